#pragma once
// The disc menu page: the first page of the disc menu as the disc will show it, the
// current template, and the menu music with "Play Music" / "Stop playing". Template
// choice, page stepping and title editing come with the full page.

#include "ui/Page.h"

class QLabel;
class QPushButton;

namespace lumivox::ui {

class MenuPage final : public Page {
    Q_OBJECT
public:
    MenuPage(const AppContext& context, QWidget* parent);
    void OnShown() override;

    void ChooseMusic();
    void PlayMusic();
    void StopMusic();

private:
    void RedrawMenu();
    void UpdateMusicLabel();

    QLabel* preview_ = nullptr;
    QLabel* templateLabel_ = nullptr;
    QLabel* musicLabel_ = nullptr;
    QPushButton* play_ = nullptr;
    QPushButton* stop_ = nullptr;
};

} // namespace lumivox::ui
