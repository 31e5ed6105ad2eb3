#pragma once
// The preview page: the disc as a player would show it on a television. Until the remote
// control and the slide show are in place, it shows the first menu page on the screen
// and plays the menu music; switching pages stops that playback.

#include "ui/Page.h"

class QLabel;
class QPushButton;

namespace lumivox::ui {

class PreviewPage final : public Page {
    Q_OBJECT
public:
    PreviewPage(const AppContext& context, QWidget* parent);
    void OnShown() override;

    // Starts the menu's playback (its music, when the menu has music).
    void StartPlayback();
    // Stops playback and its music; called by every page switch.
    void StopPlayback();
    bool IsPlaying() const { return playing_; }

signals:
    void playingChanged(bool playing);

private:
    void RedrawScreen();

    QLabel* screen_ = nullptr;
    QPushButton* start_ = nullptr;
    QPushButton* stop_ = nullptr;
    bool playing_ = false;
};

} // namespace lumivox::ui
