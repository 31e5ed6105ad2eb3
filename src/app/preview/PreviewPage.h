// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The preview page: a television with a disc player's remote control beside it. "Start
// preview" shows the first menu page and plays the menu music, a number key plays the
// album of that menu entry as a timed slide show (each picture as the disc shows it,
// turned and fitted like its frame), the menu keys page through the menu, "Stop preview"
// ends it all. The remote's keys also answer the keyboard: 1-9, space (start), Escape
// (stop), Page Up and Page Down.
//
// With "Playback control" off the page is a player that ignores the disc's menus (a
// computer, many DVD players): Start plays the disc's MPEG track — the slideshow track
// with its title cards and the menu music, or the fixed card when the disc does not get
// the slideshow — and Previous / Next jump from album to album.

#include "logic/DriveTasks.h"
#include "logic/OwnerLink.h"
#include "logic/SlideShow.h"
#include "logic/TrackPreview.h"
#include "shell/Page.h"

#include <QImage>

#include <memory>

class QCheckBox;
class QLabel;

namespace lumivox::ui {

class RemoteControl;
class TelevisionView;

// The television's screen.
inline constexpr QSize kScreenSize(460, 345);
// Where the screen lies in the television's picture (513 x 425).
inline constexpr QSize kTelevisionSize(513, 425);
inline constexpr QPoint kScreenOrigin(25, 23);
// Written on the screen before the preview starts.
extern const char* const kScreenHint;

class PreviewPage final : public Page {
    Q_OBJECT
public:
    PreviewPage(AppServices& services, QWidget* parent);
    ~PreviewPage() override;
    void OnShown() override;

    // Start: the menu page on the screen and the menu music.
    void StartPlayback();
    // Stop: the music, and the slide show when one runs (the menu shows again). Called
    // by every page switch.
    void StopPlayback();
    // The preview was started and not stopped since (menu or slide show).
    bool IsPlaying() const { return started_; }
    // An album's slide show runs.
    bool IsShowingSlides() const { return show_ && show_->IsRunning(); }
    // Number key k (1 to 9): plays the album of that entry of the menu page.
    void PlayEntry(int key);
    void ShowPreviousMenu();
    void ShowNextMenu();

    // Playback control on (the menus, as the disc is made for) or off (the MPEG track).
    // A change stops what plays.
    void SetPlaybackControl(bool on);
    bool PlaybackControl() const { return playbackControl_; }
    // Whether the disc gets the slideshow track (from the burn page's newest estimate).
    void SetSlideshowTrackOnDisc(bool onDisc);
    bool SlideshowTrackOnDisc() const { return slideshowOnDisc_; }
    // With playback control off: the album (from 0 among the albums with pictures) whose
    // part of the track plays, -1 when the track does not play.
    int TrackChapter() const;
    int TrackChapters() const { return static_cast<int>(track_.chapterStarts.size()); }

    int FirstAlbum() const { return firstAlbum_; }
    // The menu page asked for is still being drawn (on the page's worker: the template and
    // a background photo are decoded afresh); the screen shows what it showed until then.
    bool IsDrawingMenu() const { return drawingMenu_; }
    // What the screen shows (device pixels); null before anything was drawn.
    const QImage& ScreenImage() const { return screen_; }
    RemoteControl* Remote() const { return remote_; }

    // Replaces the slide timer (tests fire it by hand); the timer calls SlideTimerFired.
    void SetSlideTimer(std::unique_ptr<SlideTimer> timer);
    void SlideTimerFired();

signals:
    void playingChanged(bool playing);
    // The screen shows something new (a menu page or a slide).
    void screenChanged();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void Command(int command);
    void DrawMenu();
    void ClearScreen();
    // What the screen shows next is not the menu page being drawn: the drawing is dropped.
    void DropMenuDrawing();
    void StartTrack();
    void JumpChapter(int delta);
    void UpdateTrackNote();
    void UpdateKeys();
    void AlbumEnded();
    void MakeShow();
    QSize ScreenPixels() const;

    TelevisionView* television_ = nullptr;
    RemoteControl* remote_ = nullptr;
    QCheckBox* playbackControlBox_ = nullptr;
    QLabel* trackNote_ = nullptr;
    std::unique_ptr<SlideTimer> timer_;
    std::unique_ptr<SlideShow> show_;
    QImage screen_;
    bool screenShowsMenu_ = false;
    int firstAlbum_ = 0;
    bool started_ = false;
    bool playbackControl_ = true;
    bool slideshowOnDisc_ = false;
    TrackPreview track_; // what plays with playback control off
    int trackPosition_ = -1; // the track's item on screen
    unsigned showGeneration_ = 0; // read only on the page's thread
    bool drawingMenu_ = false;
    // Menu drawings: each screen change starts a new generation, so a drawing that arrives
    // after a slide or a newer page is dropped.
    OwnerLinkPtr menuLink_ = MakeOwnerLink(this);
    DriveTasks drawer_; // made last, ended first
};

} // namespace lumivox::ui
