// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The progress dialog's bar, drawn by the program: the done part in RGB(100, 130, 210),
// the rest in RGB(220, 240, 230), and one line of text centred over the whole bar — the
// bar's own text, or the whole percentage ("%d%%") when it has none — drawn in the light
// colour over the done part and in the dark colour over the rest, so it reads on both.

#include <QString>
#include <QWidget>

namespace lumivox::ui {

inline constexpr unsigned kProgressDoneColour = 0x6482D2; // RGB(100, 130, 210)
inline constexpr unsigned kProgressRestColour = 0xDCF0E6; // RGB(220, 240, 230)

class TextProgressBar final : public QWidget {
    Q_OBJECT
public:
    explicit TextProgressBar(QWidget* parent = nullptr);

    // Position in the range 0 to 100; values outside are clamped.
    void SetPosition(int position);
    int Position() const { return position_; }
    // The bar's text; an empty text shows the percentage. A different text repaints.
    void SetText(const QString& text);
    QString Text() const { return text_; }
    // What the bar shows: its text, or "%d%%" of the position.
    QString ShownText() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int position_ = 0;
    QString text_;
};

} // namespace lumivox::ui
