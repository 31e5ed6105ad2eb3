#include "ui/EditorPage.h"

#include "picture/QtImage.h"
#include "project/AlbumTable.h"
#include "ui/MessageBoxes.h"
#include "ui/ProjectBridge.h"

#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QVBoxLayout>

namespace lumivox::ui {

namespace {

// An album's cover drawn into the slide-thumbnail box on a soft frame.
QIcon CoverIcon(const AlbumInfo& album)
{
    QImage box(kSlideThumbnailWidth + 8, kSlideThumbnailHeight + 8, QImage::Format_ARGB32_Premultiplied);
    box.fill(Qt::transparent);
    QPainter painter(&box);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QColor(0xd9, 0xd3, 0xc4));
    painter.setBrush(QColor(0xee, 0xea, 0xe0));
    painter.drawRoundedRect(QRectF(0.5, 0.5, box.width() - 1, box.height() - 1), 6, 6);
    const PictureItem* cover = album.Cover();
    if (cover && cover->slideThumbnail) {
        const QImage image = ToQImage(*cover->slideThumbnail, PixelAlpha::Ignore);
        const ThumbnailPlacement& at = cover->slidePlacement;
        painter.drawImage(QRect(4 + at.x, 4 + at.y, at.width, at.height), image);
    }
    return QIcon(QPixmap::fromImage(box));
}

} // namespace

EditorPage::EditorPage(const AppContext& context, QWidget* parent) : Page(context, parent)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 12, 16, 12);
    AddHeading(layout, tr("Album Editor"),
               tr("Gather your photos into albums. Each album becomes an entry of the disc menu; "
                  "its pictures play one after another on the television."));
    QWidget* card = MakeCard(this);
    auto* cardLayout = new QVBoxLayout(card);
    cardLayout->setContentsMargins(12, 12, 12, 12);
    auto* caption = new QLabel(tr("Albums of this project"), card);
    QFont font = caption->font();
    font.setWeight(QFont::DemiBold);
    caption->setFont(font);
    cardLayout->addWidget(caption);
    albums_ = new QListWidget(card);
    albums_->setViewMode(QListView::IconMode);
    albums_->setIconSize(QSize(kSlideThumbnailWidth + 8, kSlideThumbnailHeight + 8));
    albums_->setGridSize(QSize(kSlideThumbnailWidth + 56, kSlideThumbnailHeight + 64));
    albums_->setResizeMode(QListView::Adjust);
    albums_->setMovement(QListView::Static);
    albums_->setWordWrap(true);
    albums_->setFrameShape(QFrame::NoFrame);
    cardLayout->addWidget(albums_, 1);
    layout->addWidget(card, 1);
    layout->addSpacing(12);
    layout->addWidget(MakeComingCard(
        QStringLiteral(":/icons/editor.svg"), tr("Coming to this page"),
        {tr("A folder tree and a file list with thumbnails of the pictures in each folder."),
         tr("The album list and the slide list of the chosen album, with drag and drop."),
         tr("Rotating pictures, a picture viewer and the album properties.")}));

    connect(context_.bridge, &ProjectBridge::albumListChanged, this, &EditorPage::Refresh);
    connect(context_.bridge, &ProjectBridge::albumChanged, this, &EditorPage::Refresh);
    connect(context_.bridge, &ProjectBridge::picturesChanged, this, &EditorPage::Refresh);
    connect(context_.bridge, &ProjectBridge::resetDone, this, &EditorPage::Refresh);
    connect(albums_, &QListWidget::currentRowChanged, this, [this](int row) {
        if (row >= 0 && row < context_.project->AlbumCount())
            context_.project->SetCurrentAlbum(row);
    });
    Refresh();
}

void EditorPage::Refresh()
{
    const AlbumTable& project = *context_.project;
    albums_->clear();
    for (int album = 0; album < project.AlbumCount(); ++album) {
        const AlbumInfo& info = project.Album(album);
        auto* item = new QListWidgetItem(CoverIcon(info),
                                         QStringLiteral("%1\n%2")
                                             .arg(QString::fromStdString(info.name))
                                             .arg(tr("Total Photos: %1").arg(info.PictureCount(), 2, 10, QLatin1Char('0'))));
        item->setTextAlignment(Qt::AlignHCenter | Qt::AlignTop);
        albums_->addItem(item);
    }
}

void EditorPage::NewAlbum()
{
    AlbumTable& project = *context_.project;
    project.AddAlbum(QStringLiteral("Album #%1").arg(project.AlbumCount() + 1).toStdString());
}

void EditorPage::DeleteAlbum()
{
    context_.project->RemoveAlbum(albums_->currentRow() >= 0 ? albums_->currentRow() : context_.project->CurrentAlbum());
}

void EditorPage::AlbumProperties()
{
    // The album properties dialog belongs to the full editor.
}

void EditorPage::AddPictures()
{
    const QStringList files = context_.files->OpenPictures(this);
    if (files.isEmpty())
        return;
    AlbumTable& project = *context_.project;
    QStringList refused;
    for (const QString& file : files) {
        const int album = project.EnsureAlbumForPicture(PictureSource::Path);
        if (album < 0)
            break;
        std::string error;
        if (!project.AddPictureToAlbum(album, file.toStdString(), {}, nullptr, &error))
            refused << QStringLiteral("%1: %2").arg(file, QString::fromStdString(error));
    }
    if (!refused.isEmpty())
        context_.messages->Information(this, tr("These pictures could not be added:\n%1").arg(refused.join('\n')));
}

void EditorPage::DeletePictures()
{
    // Deleting selected slides belongs to the full editor's slide list.
}

void EditorPage::SelectAll()
{
    // Selecting every file belongs to the full editor's file list.
}

} // namespace lumivox::ui
