// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// What the four pages of the main window share: the page background RGB(249, 247, 241)
// and the card that introduces a page.

#include "services/AppServices.h"

#include <QWidget>

class QLabel;
class QVBoxLayout;

namespace lumivox::ui {

// The page background of the main window and the burn page.
inline constexpr unsigned kPageBackground = 0xF9F7F1; // RGB(249, 247, 241)

class Page : public QWidget {
    Q_OBJECT
public:
    Page(AppServices& services, QWidget* parent);
    // The page became the visible one.
    virtual void OnShown() { }

protected:
    // A heading with a one-line description, at the top of the page.
    void AddHeading(QVBoxLayout* layout, const QString& title, const QString& description);
    // A white rounded card (a QFrame named "card") for a group of controls.
    static QWidget* MakeCard(QWidget* parent);
    // A card listing what the page will offer once its tools are in place.
    QWidget* MakeComingCard(const QString& iconResource, const QString& title, const QStringList& points);

    AppServices& services_;
};

} // namespace lumivox::ui
