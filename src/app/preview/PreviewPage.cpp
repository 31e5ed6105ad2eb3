// SPDX-License-Identifier: GPL-2.0-or-later
#include "preview/PreviewPage.h"
#include "shell/Resources.h"

#include "logic/CoreText.h"
#include "logic/MenuPaging.h"
#include "logic/QueuedCall.h"
#include "picture/FrameRenderer.h"
#include "picture/MenuTemplate.h"
#include "preview/RemoteControl.h"
#include "production/ProductionPlan.h"
#include "project/AlbumTable.h"
#include "project/Settings.h"
#include "services/MusicService.h"
#include "services/ProjectBridge.h"
#include "services/QtWaveOutput.h"

#include <algorithm>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QKeyEvent>
#include <QPainter>
#include <QSvgRenderer>
#include <QTimer>
#include <QVBoxLayout>

namespace lumivox::ui {

const char* const kScreenHint = QT_TRANSLATE_NOOP("lumivox::core", "Click Button <Play> to start ->");

namespace {

// The slide timer of the running program.
class QtSlideTimer final : public SlideTimer {
public:
    QtSlideTimer(QObject* owner, std::function<void()> fired) : timer_(owner)
    {
        timer_.setSingleShot(true);
        timer_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer_, &QTimer::timeout, owner, std::move(fired));
    }
    void Start(std::chrono::milliseconds wait) override { timer_.start(wait); }
    void Stop() override { timer_.stop(); }

private:
    QTimer timer_;
};

} // namespace

// The television: its picture, and on its screen what the page draws there, or the hint
// on blue before the preview starts.
class TelevisionView final : public QWidget {
public:
    explicit TelevisionView(PreviewPage* page)
        : QWidget(page), page_(page), picture_(QStringLiteral(":/preview/television.svg"))
    {
        setObjectName(QStringLiteral("television"));
        setAccessibleName(PreviewPage::tr("Television"));
        setAccessibleDescription(PreviewPage::tr("The television screen shows the disc as a player would play it."));
        setFixedSize(kTelevisionSize);
    }
    // The television shrinks with a small window (1 is its drawn size).
    void SetScale(qreal scale)
    {
        scale_ = scale;
        setFixedSize((QSizeF(kTelevisionSize) * scale).toSize());
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.scale(scale_, scale_);
        picture_.render(&painter, QRectF(QPointF(0, 0), QSizeF(kTelevisionSize)));
        const QRect screen(kScreenOrigin, kScreenSize);
        const QImage& image = page_->ScreenImage();
        if (!image.isNull()) {
            painter.drawImage(screen, image);
        } else {
            painter.fillRect(screen, QColor(0, 0, 255));
            painter.setPen(Qt::white);
            painter.drawText(screen.topLeft() + QPoint(100, 100), TranslateCoreText(kScreenHint));
        }
        // The page takes the remote's keys itself: while it has the focus, the screen shows it.
        if (page_->hasFocus()) {
            painter.setBrush(Qt::NoBrush);
            painter.setPen(QPen(QColor(0x9c, 0xb8, 0xff), 2 / scale_, Qt::DotLine)); // light on the dark bezel
            painter.drawRect(QRectF(screen).adjusted(-3, -3, 3, 3));
        }
    }

private:
    PreviewPage* page_;
    QSvgRenderer picture_;
    qreal scale_ = 1;
};

namespace {

// The television and the remote beside it, at their drawn size when there is room and
// smaller together when the window is small (a 1024 x 600 screen).
class PreviewStage final : public QWidget {
public:
    PreviewStage(QWidget* parent, TelevisionView* television, RemoteControl* remote)
        : QWidget(parent), television_(television), remote_(remote)
    {
        television_->setParent(this);
        remote_->setParent(this);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    }
    // The page's wrapped heading makes its scroll area lay it out at the preferred height
    // for its width: a small preference lets the stage take what the window has.
    QSize sizeHint() const override { return Full() / 2; }
    QSize minimumSizeHint() const override { return Full() / 2; }

protected:
    void resizeEvent(QResizeEvent*) override
    {
        const QSize full = Full();
        const qreal scale = std::min({1.0, qreal(width()) / full.width(), qreal(height()) / full.height()});
        television_->SetScale(scale);
        remote_->SetScale(scale);
        const int x = (width() - qRound(full.width() * scale)) / 2;
        const int middle = height() / 2;
        television_->move(x, middle - television_->height() / 2);
        // The remote stands a little lower than the television's top, as on a table.
        remote_->move(x + television_->width() + qRound(kGap * scale),
                      middle - remote_->height() / 2 + qRound(kRemoteDrop * scale));
    }

private:
    static constexpr int kGap = 30;
    static constexpr int kRemoteDrop = 9;
    static QSize Full()
    {
        return {kTelevisionSize.width() + kGap + kRemoteSize.width(),
                std::max(kTelevisionSize.height(), kRemoteSize.height() + 2 * kRemoteDrop)};
    }

    TelevisionView* television_;
    RemoteControl* remote_;
};

} // namespace

PreviewPage::PreviewPage(AppServices& services, QWidget* parent) : Page(services, parent)
{
    EnsureResources();
    setFocusPolicy(Qt::StrongFocus);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 12, 16, 12);
    AddHeading(layout, tr("Preview"),
               tr("Watch the disc before you burn it: start the menu, choose an album with a number key "
                  "and see its pictures as the television will show them. The keyboard works too: "
                  "1-9, space, Escape, Page Up and Page Down."));

    QWidget* card = MakeCard(this);
    card->setObjectName(QStringLiteral("card"));
    auto* stage = new QVBoxLayout(card);
    stage->setContentsMargins(12, 12, 12, 12);
    television_ = new TelevisionView(this);
    remote_ = new RemoteControl(this);
    stage->addWidget(new PreviewStage(card, television_, remote_), 1);
    // A player's PBC key: off, the player ignores the disc's menus and plays its MPEG track.
    auto* player = new QHBoxLayout;
    player->setSpacing(12);
    playbackControlBox_ = new QCheckBox(tr("Playback control"), card);
    playbackControlBox_->setObjectName(QStringLiteral("playbackControl"));
    playbackControlBox_->setChecked(true);
    // A click leaves the keyboard with the remote (space starts, it does not toggle this).
    playbackControlBox_->setFocusPolicy(Qt::TabFocus);
    playbackControlBox_->setToolTip(tr("On: the player shows the disc menu, as most players do.\n"
                                       "Off: it plays the disc's MPEG track, as a computer or a player with "
                                       "playback control switched off does."));
    trackNote_ = new QLabel(card);
    trackNote_->setObjectName(QStringLiteral("trackNote"));
    trackNote_->setWordWrap(true);
    trackNote_->setForegroundRole(QPalette::PlaceholderText);
    player->addWidget(playbackControlBox_, 0, Qt::AlignTop);
    player->addWidget(trackNote_, 1);
    stage->addLayout(player);
    layout->addWidget(card, 1);
    connect(playbackControlBox_, &QCheckBox::toggled, this, &PreviewPage::SetPlaybackControl);
    UpdateTrackNote();

    timer_ = std::make_unique<QtSlideTimer>(this, [this] { SlideTimerFired(); });
    MakeShow();

    connect(remote_, &RemoteControl::commandPressed, this, &PreviewPage::Command);
    for (auto signal : {&ProjectBridge::albumListChanged, &ProjectBridge::resetDone, &ProjectBridge::loadFinished})
        connect(&services_.Bridge(), signal, this, [this] {
            if (isVisible())
                OnShown();
        });
    UpdateKeys();
}

PreviewPage::~PreviewPage()
{
    menuLink_->Cut(); // a menu drawing that arrives later finds no page
    show_.reset(); // joins the decoding workers before the page goes
}

void PreviewPage::MakeShow()
{
    SlideShow::Listener listener;
    listener.showSlide = [this](const QImage& slide, int position) {
        DropMenuDrawing(); // a menu drawing still on its way is older than this
        screen_ = slide;
        screenShowsMenu_ = false;
        if (!playbackControl_) {
            trackPosition_ = position;
            UpdateKeys();
        }
        television_->update();
        emit screenChanged();
    };
    listener.albumEnded = [this] { AlbumEnded(); };
    // Pictures arrive from the worker; their tasks run on this page's thread and are
    // dropped with the page, and with the show they were posted for when the show is
    // replaced.
    const unsigned generation = ++showGeneration_;
    auto post = [this, generation](std::function<void()> task) {
        PostQueued(this, [this, generation, task = std::move(task)] {
            if (generation == showGeneration_)
                task();
        });
    };
    show_ = std::make_unique<SlideShow>(*timer_, post, std::move(listener));
}

void PreviewPage::SetSlideTimer(std::unique_ptr<SlideTimer> timer)
{
    show_.reset();
    timer_ = std::move(timer);
    MakeShow();
    UpdateKeys();
}

QSize PreviewPage::ScreenPixels() const
{
    return kScreenSize * devicePixelRatioF();
}

void PreviewPage::OnShown()
{
    firstAlbum_ = ValidFirstAlbum(firstAlbum_, services_.DiscMenu().EntriesPerPage(), services_.Project().AlbumCount());
    UpdateKeys();
    // The template, background or albums may have changed since the menu was drawn.
    if (screenShowsMenu_)
        DrawMenu();
    setFocus();
}

void PreviewPage::Command(int command)
{
    switch (command) {
    case kRemoteStart:
        StartPlayback();
        break;
    case kRemoteStop:
        StopPlayback();
        break;
    case kRemotePrevious:
        if (playbackControl_)
            ShowPreviousMenu();
        else
            JumpChapter(-1);
        break;
    case kRemoteNext:
        if (playbackControl_)
            ShowNextMenu();
        else
            JumpChapter(1);
        break;
    default:
        if (command >= kRemoteAlbum1 && command < kRemoteAlbum1 + kRemoteNumberKeys)
            PlayEntry(command - kRemoteAlbum1 + 1);
        break;
    }
}

void PreviewPage::DrawMenu()
{
    const unsigned generation = menuLink_->NextGeneration();
    screenShowsMenu_ = true;
    drawingMenu_ = true;
    // The worker draws from snapshots of the project and the menu.
    auto plan = std::make_shared<const ProductionPlan>(MakeProductionPlan(services_.Project()));
    drawer_.Run([this, link = menuLink_, generation, plan, menu = services_.DiscMenu(), first = firstAlbum_,
                 pixels = ScreenPixels(), ratio = devicePixelRatioF()] {
        if (link->Generation() != generation)
            return; // a newer screen is on its way
        QImage image(pixels, QImage::Format_RGB32);
        image.fill(QColor(0, 0, 255));
        std::string error;
        if (!DrawMenuPage(image, image.rect(), menu, plan->MenuAlbums(), first, &error)) {
            QPainter painter(&image);
            painter.setPen(Qt::white);
            painter.drawText(image.rect().adjusted(16, 16, -16, -16), Qt::AlignCenter | Qt::TextWordWrap,
                             TranslateCoreText(error));
        }
        image.setDevicePixelRatio(ratio);
        link->PostIfCurrent(generation, [this, image = std::move(image)] {
            drawingMenu_ = false;
            screen_ = image;
            television_->update();
            emit screenChanged();
        });
    });
}

void PreviewPage::UpdateKeys()
{
    if (!playbackControl_) {
        remote_->SetKeys(TrackRemoteKeys(TrackChapter(), TrackChapters(), IsShowingSlides()));
        return;
    }
    remote_->SetKeys(RemoteKeys(firstAlbum_, services_.DiscMenu().EntriesPerPage(), services_.Project().AlbumCount(),
                                IsShowingSlides()));
}

void PreviewPage::StartPlayback()
{
    if (IsShowingSlides())
        return;
    if (!playbackControl_) {
        StartTrack();
        return;
    }
    DrawMenu();
    const std::string& music = services_.DiscMenu().BackgroundMusic();
    if (!music.empty() && services_.Music().Available())
        services_.Music().Start(QString::fromStdString(music));
    if (!started_) {
        started_ = true;
        emit playingChanged(true);
    }
    UpdateKeys();
}

void PreviewPage::StopPlayback()
{
    services_.Music().Stop();
    const bool wasShowing = IsShowingSlides();
    if (wasShowing)
        show_->Stop();
    if (!playbackControl_) {
        // A player stopped in the middle of its track shows nothing.
        trackPosition_ = -1;
        if (started_)
            ClearScreen();
    } else if (wasShowing) {
        DrawMenu();
    }
    UpdateKeys();
    if (started_) {
        started_ = false;
        emit playingChanged(false);
    }
}

void PreviewPage::AlbumEnded()
{
    // The show has stopped itself; the rest is what Stop does, and the menu again (the
    // track's end leaves the screen empty).
    StopPlayback();
    if (playbackControl_)
        DrawMenu();
}

void PreviewPage::DropMenuDrawing()
{
    menuLink_->NextGeneration();
    drawingMenu_ = false;
}

void PreviewPage::ClearScreen()
{
    DropMenuDrawing();
    screen_ = QImage();
    screenShowsMenu_ = false;
    television_->update();
    emit screenChanged();
}

void PreviewPage::SetPlaybackControl(bool on)
{
    if (on == playbackControl_)
        return;
    StopPlayback();
    playbackControl_ = on;
    trackPosition_ = -1;
    track_ = {};
    ClearScreen();
    if (playbackControlBox_->isChecked() != on)
        playbackControlBox_->setChecked(on);
    UpdateTrackNote();
    UpdateKeys();
}

void PreviewPage::SetSlideshowTrackOnDisc(bool onDisc)
{
    // What plays keeps playing; the next start plays the new track.
    slideshowOnDisc_ = onDisc;
    UpdateTrackNote();
}

void PreviewPage::UpdateTrackNote()
{
    if (playbackControl_)
        trackNote_->setText(tr("The player shows the disc menu: a number key plays the album of that entry."));
    else if (slideshowOnDisc_)
        trackNote_->setText(tr("The player plays the slideshow track: every album after its title card, with the "
                               "menu music. Previous and Next jump from album to album."));
    else
        trackNote_->setText(tr("The player plays the fixed card: this disc gets no slideshow track (see "
                               "\"Slideshow track\" on the Burn page)."));
}

int PreviewPage::TrackChapter() const
{
    return IsShowingSlides() && trackPosition_ >= 0 ? ChapterAt(track_, trackPosition_) : -1;
}

void PreviewPage::StartTrack()
{
    const Settings& settings = services_.UserSettings();
    const TvNorm norm = TvNormFromSetting(settings.pal);
    if (slideshowOnDisc_) {
        // The track works from a snapshot, as the disc's run does.
        ProductionPlan plan = MakeProductionPlan(services_.Project());
        plan.norm = norm;
        plan.slideGeometry = settings.SquarePixelSlides() ? SlideGeometry::SquarePixels : SlideGeometry::TvAspect;
        track_ = MakeSlideshowTrackPreview(plan, services_.DiscMenu(), ScreenPixels());
    }
    if (!slideshowOnDisc_ || track_.items.empty())
        track_ = MakeFixedCardPreview(ScreenPixels());
    if (!show_->PlayItems(TrackFromChapter(track_, 0)))
        return;
    DropMenuDrawing();
    trackPosition_ = 0;
    const std::string& music = services_.DiscMenu().BackgroundMusic();
    if (slideshowOnDisc_ && !music.empty() && services_.Music().Available())
        services_.Music().Start(QString::fromStdString(music));
    if (!started_) {
        started_ = true;
        emit playingChanged(true);
    }
    UpdateKeys();
}

void PreviewPage::JumpChapter(int delta)
{
    const int chapter = TrackChapter();
    const int target = chapter + delta;
    if (chapter < 0 || target < 0 || target >= TrackChapters())
        return;
    if (!show_->PlayItems(TrackFromChapter(track_, target)))
        return;
    trackPosition_ = track_.chapterStarts[static_cast<std::size_t>(target)];
    UpdateKeys();
}

void PreviewPage::PlayEntry(int key)
{
    if (!playbackControl_ || IsShowingSlides() || key < 1 || key > kRemoteNumberKeys ||
        key > services_.DiscMenu().EntriesPerPage())
        return;
    const AlbumTable& project = services_.Project();
    const int album = firstAlbum_ + key - 1;
    if (album >= project.AlbumCount() || project.PictureCount(album) == 0)
        return;
    // The show works from a snapshot: the album may be edited while it plays.
    ProductionPlan plan = MakeProductionPlan(project, album + 1);
    const Settings& settings = services_.UserSettings();
    const TvNorm norm = settings.IsPal() ? TvNorm::Pal : TvNorm::Ntsc;
    const SlideGeometry geometry = settings.SquarePixelSlides() ? SlideGeometry::SquarePixels : SlideGeometry::TvAspect;
    if (!show_->Play(plan.albums[static_cast<std::size_t>(album)], DiscSlideRenderer(norm, geometry, ScreenPixels())))
        return;
    DropMenuDrawing(); // the album's slides take the screen
    UpdateKeys();
}

void PreviewPage::SlideTimerFired()
{
    if (show_)
        show_->TimerFired();
}

void PreviewPage::ShowPreviousMenu()
{
    if (!playbackControl_ || IsShowingSlides())
        return;
    firstAlbum_ = PreviousMenuFirstAlbum(firstAlbum_, services_.DiscMenu().EntriesPerPage());
    UpdateKeys();
    DrawMenu();
}

void PreviewPage::ShowNextMenu()
{
    if (!playbackControl_ || IsShowingSlides())
        return;
    firstAlbum_ =
        NextMenuFirstAlbum(firstAlbum_, services_.DiscMenu().EntriesPerPage(), services_.Project().AlbumCount());
    UpdateKeys();
    DrawMenu();
}

void PreviewPage::focusInEvent(QFocusEvent* event)
{
    Page::focusInEvent(event);
    television_->update();
}

void PreviewPage::focusOutEvent(QFocusEvent* event)
{
    Page::focusOutEvent(event);
    television_->update();
}

void PreviewPage::keyPressEvent(QKeyEvent* event)
{
    const int key = event->key();
    int command = 0;
    if (key >= Qt::Key_1 && key <= Qt::Key_9 && !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier)))
        command = kRemoteAlbum1 + (key - Qt::Key_1);
    else if (key == Qt::Key_Space)
        command = kRemoteStart;
    else if (key == Qt::Key_Escape)
        command = kRemoteStop;
    else if (key == Qt::Key_PageUp)
        command = kRemotePrevious;
    else if (key == Qt::Key_PageDown)
        command = kRemoteNext;
    if (command == 0) {
        Page::keyPressEvent(event);
        return;
    }
    remote_->Press(command);
    event->accept();
}

} // namespace lumivox::ui
