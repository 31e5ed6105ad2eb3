#include "ui/MenuPage.h"

#include "picture/FrameRenderer.h"
#include "picture/MenuTemplate.h"
#include "project/AlbumTable.h"
#include "ui/MessageBoxes.h"
#include "ui/ProjectBridge.h"
#include "ui/QtWaveOutput.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace lumivox::ui {

namespace {
// The menu preview: half the width of an NTSC frame, in the frame's 4:3 picture shape.
constexpr int kPreviewWidth = 480;
constexpr int kPreviewHeight = 360;
} // namespace

MenuPage::MenuPage(const AppContext& context, QWidget* parent) : Page(context, parent)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 12, 16, 12);
    AddHeading(layout, tr("Disc Menu"),
               tr("The menu your television shows first: one entry per album, with its cover "
                  "and title, and music that plays while the menu is on screen."));
    auto* row = new QHBoxLayout;
    row->setSpacing(16);

    QWidget* previewCard = MakeCard(this);
    auto* previewLayout = new QVBoxLayout(previewCard);
    previewLayout->setContentsMargins(16, 16, 16, 16);
    preview_ = new QLabel(previewCard);
    preview_->setFixedSize(kPreviewWidth, kPreviewHeight);
    preview_->setAlignment(Qt::AlignCenter);
    preview_->setStyleSheet(QStringLiteral("background: #1d1c1a; color: #c8c3b8; border-radius: 4px;"));
    previewLayout->addWidget(preview_, 0, Qt::AlignCenter);
    auto* previewCaption = new QLabel(tr("First menu page, as on the disc"), previewCard);
    previewCaption->setAlignment(Qt::AlignCenter);
    previewCaption->setStyleSheet(QStringLiteral("color: #6b665b;"));
    previewLayout->addWidget(previewCaption);
    row->addWidget(previewCard, 0, Qt::AlignTop);

    auto* side = new QVBoxLayout;
    QWidget* settingsCard = MakeCard(this);
    auto* grid = new QGridLayout(settingsCard);
    grid->setContentsMargins(16, 16, 16, 16);
    grid->setHorizontalSpacing(12);
    grid->setVerticalSpacing(10);
    grid->addWidget(new QLabel(tr("Template:"), settingsCard), 0, 0);
    templateLabel_ = new QLabel(settingsCard);
    grid->addWidget(templateLabel_, 0, 1, 1, 3);
    grid->addWidget(new QLabel(tr("Music:"), settingsCard), 1, 0);
    musicLabel_ = new QLabel(settingsCard);
    musicLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    grid->addWidget(musicLabel_, 1, 1, 1, 3);
    auto* choose = new QPushButton(tr("Choose Music..."), settingsCard);
    play_ = new QPushButton(tr("Play Music"), settingsCard);
    stop_ = new QPushButton(tr("Stop playing"), settingsCard);
    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(8);
    for (QPushButton* button : {choose, play_, stop_})
        button->setMinimumWidth(110);
    buttons->addWidget(choose);
    buttons->addWidget(play_);
    buttons->addWidget(stop_);
    buttons->addStretch();
    grid->addLayout(buttons, 2, 1, 1, 3);
    grid->setColumnStretch(1, 1);
    side->addWidget(settingsCard);
    side->addSpacing(12);
    side->addWidget(MakeComingCard(QStringLiteral(":/icons/discmenu.svg"), tr("Coming to this page"),
                                   {tr("The list of menu templates with previews."),
                                    tr("Stepping through every menu page, and renaming albums on the menu."),
                                    tr("A background picture of your own for the menu.")}));
    side->addStretch(1);
    row->addLayout(side, 1);
    layout->addLayout(row, 1);

    connect(choose, &QPushButton::clicked, this, &MenuPage::ChooseMusic);
    connect(play_, &QPushButton::clicked, this, &MenuPage::PlayMusic);
    connect(stop_, &QPushButton::clicked, this, &MenuPage::StopMusic);
    connect(context_.bridge, &ProjectBridge::albumListChanged, this, [this] {
        if (isVisible())
            RedrawMenu();
    });
    UpdateMusicLabel();
    RedrawMenu();
}

void MenuPage::OnShown()
{
    RedrawMenu();
}

void MenuPage::RedrawMenu()
{
    const DiscMenuState& state = *context_.discMenu;
    MenuTemplate menuTemplate;
    std::string error;
    if (!state.LoadCurrentTemplate(menuTemplate, &error)) {
        templateLabel_->setText(tr("(cannot be read)"));
        preview_->setText(QString::fromStdString(error));
        return;
    }
    templateLabel_->setText(tr("%1, %2 albums per page")
                                .arg(QString::fromStdString(menuTemplate.name))
                                .arg(state.EntriesPerPage()));
    const AlbumTable& project = *context_.project;
    std::vector<MenuAlbum> albums;
    for (int album = 0; album < project.AlbumCount(); ++album) {
        const AlbumInfo& info = project.Album(album);
        const PictureItem* cover = info.Cover();
        albums.push_back({info.name, info.PictureCount() > 0, cover ? cover->slideThumbnail.get() : nullptr});
    }
    QImage image(kPreviewWidth, kPreviewHeight, QImage::Format_RGB32);
    image.fill(Qt::black);
    if (!DrawMenuPage(image, image.rect(), menuTemplate, state.BackgroundOverride(), albums, 0, &error)) {
        preview_->setText(QString::fromStdString(error));
        return;
    }
    preview_->setPixmap(QPixmap::fromImage(image));
}

void MenuPage::UpdateMusicLabel()
{
    const std::string& music = context_.discMenu->BackgroundMusic();
    musicLabel_->setText(music.empty() ? tr("(none)") : QFileInfo(QString::fromStdString(music)).fileName());
    play_->setEnabled(!music.empty());
}

void MenuPage::ChooseMusic()
{
    const QString file = QFileDialog::getOpenFileName(this, tr("Menu Music"), {},
                                                      tr("Music (*.mp3 *.wav);;MP3 (*.mp3);;WAV (*.wav)"));
    if (file.isEmpty())
        return;
    context_.discMenu->SetBackgroundMusic(file.toStdString());
    UpdateMusicLabel();
}

void MenuPage::PlayMusic()
{
    if (!context_.music->Available()) {
        context_.messages->Information(this, QString::fromLatin1(kMsgNoAudioOutput));
        return;
    }
    context_.music->Stop();
    context_.music->Start(QString::fromStdString(context_.discMenu->BackgroundMusic()));
}

void MenuPage::StopMusic()
{
    context_.music->Stop();
}

} // namespace lumivox::ui
