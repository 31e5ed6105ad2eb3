#include "ui/PreviewPage.h"

#include "picture/FrameRenderer.h"
#include "picture/MenuTemplate.h"
#include "project/AlbumTable.h"
#include "ui/QtWaveOutput.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace lumivox::ui {

namespace {
// The television's screen.
constexpr int kScreenWidth = 460;
constexpr int kScreenHeight = 345;
} // namespace

PreviewPage::PreviewPage(const AppContext& context, QWidget* parent) : Page(context, parent)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 12, 16, 12);
    AddHeading(layout, tr("Preview"),
               tr("Watch the disc before you burn it: the menu, then each album's slide show, "
                  "steered with an on-screen remote control."));
    auto* row = new QHBoxLayout;
    row->setSpacing(16);

    QWidget* tvCard = MakeCard(this);
    auto* tv = new QVBoxLayout(tvCard);
    tv->setContentsMargins(20, 20, 20, 16);
    screen_ = new QLabel(tvCard);
    screen_->setFixedSize(kScreenWidth, kScreenHeight);
    screen_->setAlignment(Qt::AlignCenter);
    screen_->setStyleSheet(QStringLiteral("background: black; color: #c8c3b8; border: 6px solid #2b2a27; border-radius: 6px;"));
    tv->addWidget(screen_, 0, Qt::AlignCenter);
    auto* buttons = new QHBoxLayout;
    start_ = new QPushButton(tr("Start"), tvCard);
    stop_ = new QPushButton(tr("Stop"), tvCard);
    buttons->addStretch();
    buttons->addWidget(start_);
    buttons->addWidget(stop_);
    buttons->addStretch();
    tv->addLayout(buttons);
    row->addWidget(tvCard, 0, Qt::AlignTop);

    auto* side = new QVBoxLayout;
    side->addWidget(MakeComingCard(QStringLiteral(":/icons/preview.svg"), tr("Coming to this page"),
                                   {tr("A remote control with number keys, previous, next, start and stop."),
                                    tr("The timed slide show of each album, with your rotations, exactly as on the disc."),
                                    tr("Back to the menu at the end of an album.")}));
    side->addStretch();
    row->addLayout(side, 1);
    layout->addLayout(row, 1);

    connect(start_, &QPushButton::clicked, this, &PreviewPage::StartPlayback);
    connect(stop_, &QPushButton::clicked, this, &PreviewPage::StopPlayback);
    stop_->setEnabled(false);
}

void PreviewPage::OnShown()
{
    RedrawScreen();
}

void PreviewPage::RedrawScreen()
{
    MenuTemplate menuTemplate;
    std::string error;
    if (!context_.discMenu->LoadCurrentTemplate(menuTemplate, &error)) {
        screen_->setText(QString::fromStdString(error));
        return;
    }
    const AlbumTable& project = *context_.project;
    std::vector<MenuAlbum> albums;
    for (int album = 0; album < project.AlbumCount(); ++album) {
        const AlbumInfo& info = project.Album(album);
        const PictureItem* cover = info.Cover();
        albums.push_back({info.name, info.PictureCount() > 0, cover ? cover->slideThumbnail.get() : nullptr});
    }
    QImage image(kScreenWidth - 12, kScreenHeight - 12, QImage::Format_RGB32);
    image.fill(Qt::black);
    if (DrawMenuPage(image, image.rect(), menuTemplate, context_.discMenu->BackgroundOverride(), albums, 0, &error))
        screen_->setPixmap(QPixmap::fromImage(image));
    else
        screen_->setText(QString::fromStdString(error));
}

void PreviewPage::StartPlayback()
{
    if (playing_)
        return;
    playing_ = true;
    const std::string& music = context_.discMenu->BackgroundMusic();
    if (!music.empty() && context_.music->Available())
        context_.music->Start(QString::fromStdString(music));
    start_->setEnabled(false);
    stop_->setEnabled(true);
    emit playingChanged(true);
}

void PreviewPage::StopPlayback()
{
    if (!playing_)
        return;
    playing_ = false;
    context_.music->Stop();
    start_->setEnabled(true);
    stop_->setEnabled(false);
    emit playingChanged(false);
}

} // namespace lumivox::ui
