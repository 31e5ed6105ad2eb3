// SPDX-License-Identifier: GPL-2.0-or-later
#include "discmenu/MenuPage.h"

#include "editor/EditorDialogs.h"
#include "logic/CoreText.h"
#include "logic/MenuPaging.h"
#include "logic/TemplateCheck.h"
#include "picture/FrameRenderer.h"
#include "picture/MenuTemplate.h"
#include "production/ProductionPlan.h"
#include "project/AlbumTable.h"
#include "project/Settings.h"
#include "services/FileChooser.h"
#include "services/MessageBoxes.h"
#include "services/MusicService.h"
#include "services/ProjectBridge.h"
#include "services/QtWaveOutput.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QFile>
#include <QFileInfo>
#include <QCoreApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>
#include <qdrawutil.h>

#include <algorithm>
#include <cmath>
#include <iterator>

namespace lumivox::ui {

const char* const kMusicFilter = "Music Files (*.mp3 *.wav);;MP3 (*.mp3);;Wave (*.wav)";
const char* const kBackgroundFilter =
    "All Images Formats (*.jpg *.jpeg *.tif *.tiff *.bmp *.png *.webp *.heic *.heif *.hif);;JPEG (*.jpg *.jpeg);;"
    "TIFF (*.tif *.tiff);;Bitmap (*.bmp);;PNG (*.png);;WebP (*.webp);;HEIF (*.heic *.heif *.hif)";
const char* const kNoBackgroundMusic = QT_TRANSLATE_NOOP("lumivox::core", "No Background Music");
const char* const kDefaultBackgroundImage = "Default background image";

namespace {

// The preview area's colour, RGB(0, 51, 102), around the page.
const QColor kPreviewAreaColor(0, 51, 102);
// The template list: 128 x 96 previews on a grid of 136 x 116.
constexpr QSize kTemplateIcon(kTemplatePreviewWidth, kTemplatePreviewHeight);
constexpr QSize kTemplateGrid(136, 116);
// The page buttons are 91 x 26, the menu buttons 126 x 26.
constexpr QSize kPageButton(91, 26);
constexpr QSize kMenuButton(126, 26);
constexpr int kFileNameRole = Qt::UserRole;
constexpr int kProblemRole = Qt::UserRole + 1;

QString FromStd(const std::string& text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The template's preview with a warning sign in its corner, for a template that cannot
// serve.
QIcon WarningIcon(const QImage& preview, const QStyle* style)
{
    QImage image = preview.isNull() ? QImage(kTemplateIcon, QImage::Format_RGB32) : preview;
    if (preview.isNull())
        image.fill(Qt::black);
    QPainter painter(&image);
    painter.fillRect(image.rect(), QColor(0, 0, 0, 110));
    const QPixmap sign = style->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(40, 40);
    painter.drawPixmap((image.width() - 40) / 2, (image.height() - 40) / 2, sign);
    return QIcon(QPixmap::fromImage(image));
}

} // namespace

QRect MenuPageRect(const QRect& area)
{
    const int w = area.width();
    const int h = area.height();
    int pageWidth = 0;
    int pageHeight = 0;
    if (h / 3 < w / 4) {
        pageHeight = h - 12;
        pageWidth = (h - 12) * 4 / 3;
    } else {
        pageWidth = w - 12;
        pageHeight = (w - 12) * 3 / 4;
    }
    if (pageWidth < 1 || pageHeight < 1)
        return {};
    return QRect(area.left() + (w - pageWidth - 12) / 2 + 6, area.top() + (h - pageHeight - 12) / 2 + 6, pageWidth,
                 pageHeight);
}

std::vector<QRect> TitleHitBoxes(const QRect& page, const MenuTemplate& t, int firstAlbum, int albumCount)
{
    std::vector<QRect> boxes;
    if (page.isEmpty())
        return boxes;
    const double sx = static_cast<double>(page.width()) / t.CanvasWidth();
    const double sy = static_cast<double>(page.height()) / t.CanvasHeight();
    const int entries = std::min(t.itemsCount, static_cast<int>(t.textPositions.size()));
    for (int i = 0; i < entries && static_cast<long long>(firstAlbum) + i < albumCount; ++i) {
        const TemplatePoint text = t.textPositions[static_cast<std::size_t>(i)];
        // The box lies exactly over the title as drawn: the page is the canvas scaled.
        boxes.emplace_back(static_cast<int>(std::trunc(sx * text.x)) + page.left(),
                           static_cast<int>(std::trunc(sy * text.y)) + page.top(),
                           static_cast<int>(std::trunc(sx * t.textWidth)),
                           static_cast<int>(std::trunc(sy * t.textHeight)));
    }
    return boxes;
}

// The preview area: the page colour around the menu page, a sunken edge, the page with a
// raised edge one pixel outside it.
class MenuPreviewArea final : public QWidget {
public:
    explicit MenuPreviewArea(MenuPage* page) : QWidget(page), page_(page)
    {
        setObjectName(QStringLiteral("menuPreview"));
        setAccessibleName(MenuPage::tr("Disc menu preview"));
        setAccessibleDescription(MenuPage::tr("The disc menu page as the disc shows it; double-click an album's "
                                              "title to rename the album."));
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
        setMinimumSize(320, 240);
        setContextMenuPolicy(Qt::DefaultContextMenu);
    }
    void SetContextMenu(QMenu* menu) { menu_ = menu; }
    QRect PageRect() const { return MenuPageRect(rect()); }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), kPreviewAreaColor);
        qDrawShadePanel(&painter, rect(), palette(), true, 1);
        const QRect pageRect = PageRect();
        if (pageRect.isEmpty())
            return;
        const QImage& image = page_->PageImage();
        if (!image.isNull()) {
            painter.drawImage(pageRect, image);
        } else {
            painter.setPen(Qt::white);
            painter.drawText(pageRect.adjusted(12, 12, -12, -12), Qt::AlignCenter | Qt::TextWordWrap,
                             page_->PageError());
        }
        qDrawShadePanel(&painter, pageRect.adjusted(-1, -1, 1, 1), palette(), false, 1);
    }
    // A window being dragged larger sends many sizes: the menu (decoded afresh from its
    // files) is drawn once the events have settled, and meanwhile stretched.
    void resizeEvent(QResizeEvent*) override
    {
        if (redrawPending_)
            return;
        redrawPending_ = true;
        QTimer::singleShot(0, this, [this] {
            redrawPending_ = false;
            page_->RedrawMenu();
        });
    }
    void mouseDoubleClickEvent(QMouseEvent* event) override
    {
        if (event->button() == Qt::LeftButton)
            page_->EditTitleAt(event->position().toPoint());
    }
    void contextMenuEvent(QContextMenuEvent* event) override
    {
        if (menu_)
            menu_->popup(event->globalPos());
    }

private:
    MenuPage* page_;
    QMenu* menu_ = nullptr;
    bool redrawPending_ = false;
};

MenuPage::MenuPage(AppServices& services, QWidget* parent) : Page(services, parent)
{
    // The program's own file chooser (it starts where the last dialog went) and the
    // editor's album name dialog.
    askFile_ = [files = &services_.Files()](QWidget* owner, const QString& title, const QString& filter) {
        return files ? files->OpenFile(owner, title, filter) : QString();
    };
    askName_ = [](QWidget* owner, QString& name) {
        AlbumNameDialog dialog(name, owner);
        if (dialog.exec() != QDialog::Accepted)
            return false;
        name = dialog.Name();
        return true;
    };

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 12, 16, 12);
    AddHeading(layout, tr("Disc Menu"),
               tr("The menu your television shows first: pick a template, a background and music. "
                  "Double-click a title on the menu to rename its album."));
    auto* row = new QHBoxLayout;
    row->setSpacing(8);

    auto* left = new QVBoxLayout;
    left->setSpacing(4);
    area_ = new MenuPreviewArea(this);
    left->addWidget(area_, 1);

    auto* controls = new QGridLayout;
    controls->setHorizontalSpacing(8);
    controls->setVerticalSpacing(4);
    auto* music = new QPushButton(QIcon(QStringLiteral(":/icons/preview.svg")), tr("Music"), this);
    music->setToolTip(tr("Set the background music of the disc menu"));
    auto* picture = new QPushButton(QIcon(QStringLiteral(":/icons/discmenu.svg")), tr("Picture"), this);
    picture->setToolTip(tr("Set the background image of the disc menu"));
    for (QPushButton* button : {music, picture})
        button->setMinimumSize(kMenuButton); // wider when a translation needs it
    musicLabel_ = new QLabel(this);
    musicLabel_->setObjectName(QStringLiteral("musicLabel"));
    backgroundLabel_ = new QLabel(this);
    backgroundLabel_->setObjectName(QStringLiteral("backgroundLabel"));
    for (QLabel* label : {musicLabel_, backgroundLabel_}) {
        label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    }
    previous_ = new QPushButton(tr("< Previous"), this);
    previous_->setObjectName(QStringLiteral("previousMenu"));
    previous_->setToolTip(tr("Previous menu"));
    next_ = new QPushButton(tr("Next >"), this);
    next_->setObjectName(QStringLiteral("nextMenu"));
    next_->setToolTip(tr("Next menu"));
    for (QPushButton* button : {previous_, next_})
        button->setMinimumSize(kPageButton);
    controls->addWidget(music, 0, 0);
    controls->addWidget(musicLabel_, 0, 1);
    controls->addWidget(previous_, 0, 2);
    controls->addWidget(next_, 0, 3);
    controls->addWidget(picture, 1, 0);
    controls->addWidget(backgroundLabel_, 1, 1, 1, 3);
    controls->setColumnStretch(1, 1);
    left->addLayout(controls);
    row->addLayout(left, 1);

    auto* right = new QVBoxLayout;
    right->setSpacing(4);
    right->addWidget(new QLabel(tr("Template:"), this));
    templates_ = new QListWidget(this);
    templates_->setObjectName(QStringLiteral("templateList"));
    templates_->setViewMode(QListView::IconMode);
    templates_->setIconSize(kTemplateIcon);
    templates_->setGridSize(kTemplateGrid);
    templates_->setMovement(QListView::Static);
    templates_->setResizeMode(QListView::Adjust);
    templates_->setWordWrap(true);
    templates_->setSelectionMode(QAbstractItemView::SingleSelection);
    templates_->setFixedWidth(kTemplateGrid.width() + templates_->style()->pixelMetric(QStyle::PM_ScrollBarExtent) +
                              2 * templates_->frameWidth() + 8);
    right->addWidget(templates_, 1);
    row->addLayout(right);
    layout->addLayout(row, 1);

    musicMenu_ = new QMenu(this);
    musicMenu_->addAction(tr("Select background music..."), this, &MenuPage::ChooseMusic);
    musicMenu_->addAction(tr("Clear background music"), this, &MenuPage::ClearMusic);
    musicMenu_->addSeparator();
    musicMenu_->addAction(tr("Play Music"), this, &MenuPage::PlayMusic);
    musicMenu_->addAction(tr("Stop playing"), this, &MenuPage::StopMusic);
    pictureMenu_ = new QMenu(this);
    pictureMenu_->addAction(tr("Select background image..."), this, &MenuPage::ChooseBackground);
    pictureMenu_->addAction(tr("Clear background image"), this, &MenuPage::ClearBackground);
    contextMenu_ = new QMenu(this);
    contextMenu_->addAction(tr("Select background music..."), this, &MenuPage::ChooseMusic);
    contextMenu_->addAction(tr("Clear background music"), this, &MenuPage::ClearMusic);
    contextMenu_->addSeparator();
    contextMenu_->addAction(tr("Select background image..."), this, &MenuPage::ChooseBackground);
    contextMenu_->addAction(tr("Clear background image"), this, &MenuPage::ClearBackground);
    area_->SetContextMenu(contextMenu_);

    // The menus open over their button's top-left corner.
    connect(music, &QPushButton::clicked, this, [this, music] { musicMenu_->popup(music->mapToGlobal(QPoint(0, 0))); });
    connect(picture, &QPushButton::clicked, this,
            [this, picture] { pictureMenu_->popup(picture->mapToGlobal(QPoint(0, 0))); });
    connect(previous_, &QPushButton::clicked, this, &MenuPage::ShowPreviousPage);
    connect(next_, &QPushButton::clicked, this, &MenuPage::ShowNextPage);
    connect(templates_, &QListWidget::currentItemChanged, this,
            [this](QListWidgetItem* current) { TemplateChosen(current); });
    for (auto signal : {&ProjectBridge::albumListChanged, &ProjectBridge::resetDone, &ProjectBridge::loadFinished})
        connect(&services_.Bridge(), signal, this, &MenuPage::AlbumsChanged);
    connect(&services_.Bridge(), &ProjectBridge::albumChanged, this, &MenuPage::AlbumsChanged);
    connect(&services_.Bridge(), &ProjectBridge::picturesChanged, this, &MenuPage::AlbumsChanged);

    BuildTemplateList();
    UpdateLabels();
    UpdatePageButtons();
    RedrawMenu();
}

QString MusicProblem(const QString& path)
{
    const QString name = QFileInfo(path).fileName();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QCoreApplication::translate("MenuPage", "%1 could not be read: %2").arg(name, file.errorString());
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QStringLiteral("mp3"))
        return file.size() > 0 ? QString() : QCoreApplication::translate("MenuPage", "%1 is empty.").arg(name);
    if (suffix != QStringLiteral("wav"))
        return QCoreApplication::translate("MenuPage", "%1: only MP3 and WAVE files can be the menu's music.")
            .arg(name);
    // The chunks are walked up to the format chunk; a hostile size ends the walk.
    const QByteArray riff = file.read(12);
    if (riff.size() < 12 || !riff.startsWith("RIFF") || riff.mid(8, 4) != "WAVE")
        return QCoreApplication::translate("MenuPage", "%1 is not a WAVE file.").arg(name);
    const auto le = [](const QByteArray& bytes, int at, int size) {
        quint32 value = 0;
        for (int i = size - 1; i >= 0; --i)
            value = (value << 8) | static_cast<quint8>(bytes[at + i]);
        return value;
    };
    for (int chunk = 0; chunk < 64; ++chunk) {
        const QByteArray header = file.read(8);
        if (header.size() < 8)
            break;
        const quint32 size = le(header, 4, 4);
        if (header.startsWith("fmt ")) {
            const QByteArray format = file.read(16);
            if (format.size() < 16)
                break;
            const quint32 tag = le(format, 0, 2), channels = le(format, 2, 2), rate = le(format, 4, 4),
                          bits = le(format, 14, 2);
            if (tag != 1 || bits != 16)
                return QCoreApplication::translate("MenuPage", "%1 holds %2-bit sound; the disc's music must be "
                                                               "16-bit PCM.")
                    .arg(name)
                    .arg(bits);
            if (channels < 1 || channels > 2)
                return QCoreApplication::translate("MenuPage", "%1 has %2 channels; the disc's music has one or two.")
                    .arg(name)
                    .arg(channels);
            const quint32 rates[] = {16000, 22050, 24000, 32000, 44100, 48000};
            if (std::find(std::begin(rates), std::end(rates), rate) == std::end(rates))
                return QCoreApplication::translate("MenuPage", "%1 is sampled at %2 Hz; the disc's music must be "
                                                               "at 16, 22.05, 24, 32, 44.1 or 48 kHz.")
                    .arg(name)
                    .arg(rate);
            return {};
        }
        if (!file.seek(file.pos() + size + (size & 1)))
            break;
    }
    return QCoreApplication::translate("MenuPage", "%1 is not a WAVE file.").arg(name);
}

QRect MenuPage::PageRect() const
{
    return area_->PageRect();
}
void MenuPage::OnShown()
{
    AlbumsChanged();
}

void MenuPage::BuildTemplateList()
{
    const std::string folder = TemplateFolder(services_.DiscMenu().ProgramFolder());
    const QSignalBlocker blocker(templates_);
    templates_->clear();
    for (const TemplateListEntry& entry : ListTemplates(folder, TemplatePreviews::Make)) {
        const std::string problem = TemplateProblem(folder + entry.fileName);
        auto* item = new QListWidgetItem(FromStd(entry.name), templates_);
        item->setData(kFileNameRole, FromStd(entry.fileName));
        if (problem.empty()) {
            item->setIcon(QIcon(QPixmap::fromImage(entry.preview)));
            item->setToolTip(FromStd(entry.fileName));
        } else {
            item->setIcon(WarningIcon(entry.preview, style()));
            item->setData(kProblemRole, TranslateCoreText(problem));
            item->setToolTip(TranslateCoreText(problem));
        }
    }
    SelectCurrentTemplateRow();
}

void MenuPage::SelectCurrentTemplateRow()
{
    const QString current = FromStd(services_.DiscMenu().CurrentTemplate());
    const QSignalBlocker blocker(templates_);
    templates_->setCurrentItem(nullptr);
    for (int row = 0; row < templates_->count(); ++row) {
        QListWidgetItem* item = templates_->item(row);
        if (QStringLiteral("template/") + item->data(kFileNameRole).toString() == current) {
            templates_->setCurrentItem(item);
            return;
        }
    }
}

void MenuPage::TemplateChosen(QListWidgetItem* item)
{
    if (!item)
        return;
    if (!SelectTemplate(item->data(kFileNameRole).toString()))
        SelectCurrentTemplateRow();
}

bool MenuPage::SelectTemplate(const QString& fileName)
{
    const ProjectDesign before = Design();
    const std::string folder = TemplateFolder(services_.DiscMenu().ProgramFolder());
    std::string problem = TemplateProblem(folder + fileName.toStdString());
    if (problem.empty() && !services_.DiscMenu().SelectTemplate(fileName.toStdString(), &problem) && problem.empty())
        problem = folder + fileName.toStdString() + ": cannot be used";
    if (!problem.empty()) {
        services_.Messages().Warning(this, tr("This template cannot be used:\n%1").arg(TranslateCoreText(problem)));
        return false;
    }
    // The background the user chose stays when the template changes.
    services_.DiscMenu().SetBackgroundOverride(before.background);
    RecordDesignChange(tr("Change Template"), before);
    firstAlbum_ = 0;
    SelectCurrentTemplateRow();
    UpdateLabels();
    UpdatePageButtons();
    RedrawMenu();
    return true;
}

void MenuPage::UpdateLabels()
{
    emit discMenuChanged();
    const std::string& music = services_.DiscMenu().BackgroundMusic();
    musicLabel_->setText(music.empty() ? TranslateCoreText(kNoBackgroundMusic) : FromStd(music));
    musicLabel_->setToolTip(musicLabel_->text());
    const std::string& background = services_.DiscMenu().BackgroundOverride();
    backgroundLabel_->setText(background.empty() ? QString::fromLatin1(kDefaultBackgroundImage) : FromStd(background));
    backgroundLabel_->setToolTip(backgroundLabel_->text());
}

void MenuPage::UpdatePageButtons()
{
    const int entries = services_.DiscMenu().EntriesPerPage();
    const int albums = services_.Project().AlbumCount();
    previous_->setEnabled(CanShowPreviousMenu(firstAlbum_));
    next_->setEnabled(CanShowNextMenu(firstAlbum_, entries, albums));
}

void MenuPage::AlbumsChanged()
{
    // Albums removed since the page was stepped to leave no empty page on screen.
    firstAlbum_ = ValidFirstAlbum(firstAlbum_, services_.DiscMenu().EntriesPerPage(), services_.Project().AlbumCount());
    UpdatePageButtons();
    if (isVisible())
        RedrawMenu();
}

MenuPage::~MenuPage()
{
    link_->Cut(); // a drawing that arrives later finds no page
}

void MenuPage::RedrawMenu()
{
    const QRect pageRect = area_->PageRect();
    const unsigned generation = link_->NextGeneration();
    if (pageRect.isEmpty()) {
        drawing_ = false;
        PageDrawn(QImage(), QString());
        return;
    }
    drawing_ = true;
    const qreal ratio = area_->devicePixelRatioF();
    // The worker draws from snapshots: the project and the menu may change meanwhile (a
    // newer drawing is then asked for, and this one dropped).
    auto plan = std::make_shared<const ProductionPlan>(MakeProductionPlan(services_.Project()));
    drawer_.Run([this, link = link_, generation, plan, menu = services_.DiscMenu(), first = firstAlbum_,
                 size = pageRect.size() * ratio, ratio] {
        if (link->Generation() != generation)
            return; // a newer drawing is on its way
        QImage image(size, QImage::Format_RGB32);
        image.fill(Qt::black);
        std::string error;
        if (DrawMenuPage(image, image.rect(), menu, plan->MenuAlbums(), first, &error))
            image.setDevicePixelRatio(ratio);
        else
            image = QImage();
        link->PostIfCurrent(generation, [this, image = std::move(image), error = FromStd(error)] {
            drawing_ = false;
            PageDrawn(image, image.isNull() ? error : QString());
        });
    });
}

void MenuPage::PageDrawn(QImage image, QString error)
{
    pageImage_ = std::move(image);
    pageError_ = std::move(error);
    area_->update();
    emit pageDrawn();
}

void MenuPage::ShowPreviousPage()
{
    const int previous = PreviousMenuFirstAlbum(firstAlbum_, services_.DiscMenu().EntriesPerPage());
    if (previous == firstAlbum_)
        return;
    firstAlbum_ = previous;
    UpdatePageButtons();
    RedrawMenu();
}

void MenuPage::ShowNextPage()
{
    const int next =
        NextMenuFirstAlbum(firstAlbum_, services_.DiscMenu().EntriesPerPage(), services_.Project().AlbumCount());
    if (next == firstAlbum_)
        return;
    firstAlbum_ = next;
    UpdatePageButtons();
    RedrawMenu();
}

void MenuPage::ChooseMusic()
{
    const QString file = askFile_(this, tr("Background Music"), QString::fromLatin1(kMusicFilter));
    if (file.isEmpty())
        return;
    if (const QString problem = MusicProblem(file); !problem.isEmpty()) {
        services_.Messages().Warning(this, tr("This file cannot be the menu's music:\n%1").arg(problem));
        return;
    }
    const ProjectDesign before = Design();
    services_.DiscMenu().SetBackgroundMusic(file.toStdString());
    RecordDesignChange(tr("Choose Music"), before);
    UpdateLabels();
}

void MenuPage::ClearMusic()
{
    const ProjectDesign before = Design();
    services_.DiscMenu().SetBackgroundMusic({});
    RecordDesignChange(tr("Remove Music"), before);
    UpdateLabels();
}

void MenuPage::PlayMusic()
{
    const std::string& music = services_.DiscMenu().BackgroundMusic();
    if (music.empty())
        return;
    if (!services_.Music().Available()) {
        services_.Messages().Information(this, TranslateCoreText(kMsgNoAudioOutput));
        return;
    }
    if (playing_)
        services_.Music().Stop();
    services_.Music().Start(FromStd(music));
    playing_ = true;
}

void MenuPage::StopMusic()
{
    if (!playing_)
        return;
    services_.Music().Stop();
    playing_ = false;
}

void MenuPage::ChooseBackground()
{
    const QString file = askFile_(this, tr("Background Image"), QString::fromLatin1(kBackgroundFilter));
    if (file.isEmpty())
        return;
    // A picture that cannot be decoded would leave the disc without any menu page.
    if (const std::string problem = BackgroundProblem(file.toStdString()); !problem.empty()) {
        services_.Messages().Warning(
            this, tr("This picture cannot be the menu's background:\n%1").arg(TranslateCoreText(problem)));
        return;
    }
    const ProjectDesign before = Design();
    services_.DiscMenu().SetBackgroundOverride(file.toStdString());
    RecordDesignChange(tr("Choose Background"), before);
    UpdateLabels();
    RedrawMenu();
}

void MenuPage::ClearBackground()
{
    const ProjectDesign before = Design();
    services_.DiscMenu().SetBackgroundOverride({});
    RecordDesignChange(tr("Remove Background"), before);
    UpdateLabels();
    RedrawMenu();
}

ProjectDesign MenuPage::Design() const
{
    ProjectDesign design;
    design.present = true;
    design.menuTemplate = services_.DiscMenu().CurrentTemplate();
    design.background = services_.DiscMenu().BackgroundOverride();
    design.music = services_.DiscMenu().BackgroundMusic();
    return design;
}

QStringList MenuPage::ApplyDesign(const ProjectDesign& design)
{
    QStringList problems;
    DiscMenuState& state = services_.DiscMenu();
    const std::string installedPrefix = "template/";
    const std::string wanted = design.menuTemplate.empty() ? installedPrefix + "classic.ini" : design.menuTemplate;
    const bool installed = wanted.rfind(installedPrefix, 0) == 0;
    if (wanted != state.CurrentTemplate()) {
        const std::string path =
            installed ? TemplateFolder(state.ProgramFolder()) + wanted.substr(installedPrefix.size()) : wanted;
        const bool selected =
            TemplateProblem(path).empty() && (installed ? state.SelectTemplate(wanted.substr(installedPrefix.size()))
                                                        : state.SelectTemplateFile(wanted));
        if (!selected)
            problems << FromStd(path);
    }
    // A picture or a music file that went away is reported, not kept: the burn would fail.
    const auto existing = [&problems](const std::string& path) {
        if (path.empty() || QFileInfo(FromStd(path)).isFile())
            return path;
        problems << FromStd(path);
        return std::string();
    };
    state.SetBackgroundOverride(existing(design.background));
    state.SetBackgroundMusic(existing(design.music));
    firstAlbum_ = 0;
    SelectCurrentTemplateRow();
    UpdateLabels();
    UpdatePageButtons();
    RedrawMenu();
    return problems;
}

void MenuPage::RecordDesignChange(const QString& text, const ProjectDesign& before)
{
    const ProjectDesign after = Design();
    if (after == before)
        return;
    const QPointer<MenuPage> page(this);
    services_.Bridge().PushCommand(
        text,
        [page, after] {
            if (page)
                page->ApplyDesign(after);
        },
        [page, before] {
            if (page)
                page->ApplyDesign(before);
        });
}

void MenuPage::EditTitleAt(const QPoint& point)
{
    MenuTemplate menuTemplate;
    if (!services_.DiscMenu().LoadCurrentTemplate(menuTemplate))
        return;
    AlbumTable& project = services_.Project();
    const std::vector<QRect> boxes = TitleHitBoxes(area_->PageRect(), menuTemplate, firstAlbum_, project.AlbumCount());
    for (std::size_t i = 0; i < boxes.size(); ++i) {
        if (!boxes[i].contains(point))
            continue;
        const int album = firstAlbum_ + static_cast<int>(i);
        QString name = FromStd(project.Album(album).name);
        // The project announces the new name, which redraws the menu. As in the editor, the
        // name is trimmed and an empty one changes nothing.
        if (askName_(this, name) && !(name = name.trimmed()).isEmpty())
            services_.Bridge().Edit(tr("Rename Album"), [&] { project.RenameAlbum(album, name.toStdString()); });
        return;
    }
}

} // namespace lumivox::ui
