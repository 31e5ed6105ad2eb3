// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The disc menu page: the template list, the menu exactly as the disc shows it with its
// previous and next pages, the menu's background picture and music, and the albums'
// titles edited by a double click on the menu. The template, the background override and
// the music are the disc-menu state (AppServices::DiscMenu) that the preview and the burn
// read.

#include "logic/DriveTasks.h"
#include "logic/OwnerLink.h"
#include "shell/Page.h"

#include <QImage>
#include <QRect>

#include <functional>
#include <string>
#include <vector>

class QLabel;
class QListWidget;
class QListWidgetItem;
class QMenu;
class QPushButton;

namespace lumivox {
struct MenuTemplate;
struct ProjectDesign;
} // namespace lumivox

namespace lumivox::ui {

class MenuPreviewArea;

// The filters of the two open-file dialogs.
extern const char* const kMusicFilter;
extern const char* const kBackgroundFilter;
// The labels' texts without a choice.
extern const char* const kNoBackgroundMusic;
extern const char* const kDefaultBackgroundImage;

// Empty when the file at path can be the menu's music; otherwise why not, naming the
// file: it cannot be read, is neither MP3 nor WAVE by its name, or is a WAVE file the
// Layer II encoder cannot take (not 16-bit PCM, not one or two channels, or a sample
// rate other than 16, 22.05, 24, 32, 44.1 or 48 kHz). Checked when the music is chosen,
// rather than when the burn is half done.
QString MusicProblem(const QString& path);

// The 4:3 page inside the preview area: as large as the area allows with a 6-pixel
// margin, centred.
QRect MenuPageRect(const QRect& area);
// The title boxes of the page's entries scaled into page (index i is entry i + 1, album
// firstAlbum + i); only entries that show an album have one.
std::vector<QRect> TitleHitBoxes(const QRect& page, const MenuTemplate& menuTemplate, int firstAlbum, int albumCount);

class MenuPage final : public Page {
    Q_OBJECT
public:
    // Asks for a file to open: (parent, title, filter) -> path, empty when cancelled.
    using FileAsker = std::function<QString(QWidget*, const QString&, const QString&)>;
    // Asks for an album's new name: (parent, current name) -> accepted and the name.
    using NameAsker = std::function<bool(QWidget*, QString&)>;

    MenuPage(AppServices& services, QWidget* parent);
    ~MenuPage() override;
    void OnShown() override;

    // The commands of the page.
    bool SelectTemplate(const QString& fileName);
    void ChooseMusic();
    void ClearMusic();
    void PlayMusic();
    void StopMusic();
    void ChooseBackground();
    void ClearBackground();
    void ShowPreviousPage();
    void ShowNextPage();
    // A double click at point of the preview area.
    void EditTitleAt(const QPoint& point);

    int FirstAlbum() const { return firstAlbum_; }
    // The menu page as drawn into the preview (device pixels), and where it lies in the
    // preview area. Null when the menu cannot be drawn.
    const QImage& PageImage() const { return pageImage_; }
    // Why the menu cannot be drawn, when it cannot.
    const QString& PageError() const { return pageError_; }
    QRect PageRect() const;

    // Replace the dialogs (tests).
    void SetFileAsker(FileAsker asker) { askFile_ = std::move(asker); }
    void SetNameAsker(NameAsker asker) { askName_ = std::move(asker); }

    // The template, background and music as the project file stores them.
    ProjectDesign Design() const;
    // Makes design the disc-menu state (an empty template is the default one). Files that
    // are missing or cannot be used are left out and returned, so that they can be
    // reported like missing pictures.
    QStringList ApplyDesign(const ProjectDesign& design);

    // Draws the menu again (state, project or size changed). The drawing (the template and
    // a background photo decoded afresh) runs on the page's worker; the page shows the last
    // drawing until the newest arrives, and says pageDrawn then.
    void RedrawMenu();
    // A drawing asked for has not arrived yet.
    bool IsDrawing() const { return drawing_; }

signals:
    // The newest drawing of the menu is on the page (PageImage, or PageError).
    void pageDrawn();
    // The template, the background or the music changed: what the disc holds may have
    // changed with it (the burn page's capacity meter listens).
    void discMenuChanged();

private:
    void BuildTemplateList();
    void TemplateChosen(QListWidgetItem* item);
    void SelectCurrentTemplateRow();
    void UpdateLabels();
    void UpdatePageButtons();
    void AlbumsChanged();
    // Makes the change from before to the current design one undoable command.
    void RecordDesignChange(const QString& text, const ProjectDesign& before);
    void PageDrawn(QImage image, QString error);

    MenuPreviewArea* area_ = nullptr;
    QListWidget* templates_ = nullptr;
    QLabel* musicLabel_ = nullptr;
    QLabel* backgroundLabel_ = nullptr;
    QPushButton* previous_ = nullptr;
    QPushButton* next_ = nullptr;
    QMenu* musicMenu_ = nullptr;
    QMenu* pictureMenu_ = nullptr;
    QMenu* contextMenu_ = nullptr;
    QImage pageImage_;
    QString pageError_;
    int firstAlbum_ = 0;
    bool playing_ = false;
    bool selectingRow_ = false;
    FileAsker askFile_;
    NameAsker askName_;
    bool drawing_ = false;
    OwnerLinkPtr link_ = MakeOwnerLink(this);
    // Made last, ended first: a drawing still under way ends before the page's members go.
    DriveTasks drawer_;
};

} // namespace lumivox::ui
