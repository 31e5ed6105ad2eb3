// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Disc-menu templates: an INI file that names a background picture, a frame bitmap drawn
// around every menu entry, the entries' and titles' positions, the title colour and the
// page buttons. Templates live in "template/" in the program folder; their pictures lie
// in the sub-folder named by "Folder_name" beside the template file. Adding a file to the
// folder adds a template.
//
// This file also holds the disc-menu state shared by the disc menu page, the preview
// page and the production run: the current template, its entries per page, the
// background override and the background music.

#include <QtGui/QImage>

#include <cstdint>
#include <string>
#include <vector>

namespace lumivox {

// Canvas size used when a template gives none (or a value that is not above 0).
constexpr int kDefaultCanvasWidth = 768;
constexpr int kDefaultCanvasHeight = 576;
// Largest canvas a template may ask for: beyond it the template is refused rather than
// allocating hundreds of megabytes for one menu page.
constexpr int kMaxCanvasSide = 4096;
// Entries are numbered "Item_%02d"; no page of a project (at most 99 albums) can show
// more than this many, so positions beyond it are never read.
constexpr int kMaxTemplateEntries = 99;
// Size of the picture shown for a template in the template list.
constexpr int kTemplatePreviewWidth = 128;
constexpr int kTemplatePreviewHeight = 96;
// The installed template that is current when the program starts.
inline constexpr const char* kDefaultTemplateFile = "classic.ini";

struct TemplatePoint {
    int x = 0;
    int y = 0;
};

// Every key of a template file with its default. Sizes and positions are pixels of the
// canvas (backgroundWidth x backgroundHeight), origin at the top left.
struct MenuTemplate {
    std::string path; // the template file
    std::string pictureFolder; // folder of its pictures, trailing "/"

    std::string name = "Template"; // [General] NAME
    std::string folderName; // [General] Folder_name
    std::string backgroundImage; // [General] Bkground_image
    int backgroundWidth = kDefaultCanvasWidth; // [General] Bkground_image_cx
    int backgroundHeight = kDefaultCanvasHeight; // [General] Bkground_image_cy
    std::string frameImage; // [General] Frame_image
    int frameWidth = 0, frameHeight = 0; // frame_cx, frame_cy
    int frameOffsetX = 0, frameOffsetY = 0; // Frame_off_x, Frame_off_y
    int imageWidth = 0, imageHeight = 0; // image_cx, image_cy
    int textWidth = 0, textHeight = 0; // Text_cx, Text_cy
    int itemsCount = 0; // Items_count
    std::string nextButton; // Next_button
    int nextWidth = 0, nextHeight = 0; // next_cx, next_cy
    std::string prevButton; // Prev_button
    int prevWidth = 0, prevHeight = 0; // prev_cx, prev_cy
    // [POSITIONS] Item_%02d_x/_y and Text_%02d_x/_y for entries 1 .. min(itemsCount,
    // kMaxTemplateEntries); index 0 is entry 01.
    std::vector<TemplatePoint> itemPositions;
    std::vector<TemplatePoint> textPositions;
    TemplatePoint nextButtonPosition; // Next_button_x/_y
    TemplatePoint prevButtonPosition; // Prev_button_x/_y
    std::uint32_t textColor = 0; // [COLOR] Text_color, 0x00BBGGRR
    // [COLOR] Text_outline_color: when given, every title gets a one-pixel outline of
    // this colour so that it stays legible over any background (a user's own light,
    // dark or busy picture). Without the key titles are drawn plainly.
    bool hasTextOutline = false;
    std::uint32_t textOutlineColor = 0;
    // [COLOR] Thumb_fill_color: the part of an entry's image box that its fitted cover
    // leaves free. Black when missing.
    std::uint32_t thumbFillColor = 0;

    // Full paths of the template's pictures ("" when the key is empty).
    std::string BackgroundPath() const;
    std::string FramePath() const;
    std::string NextButtonPath() const;
    std::string PrevButtonPath() const;
    // The canvas: the template's size, 768 x 576 for values that are not above 0.
    int CanvasWidth() const;
    int CanvasHeight() const;
};

// Reads a template file. Its picture folder is "Folder_name" in the folder of the file.
// Missing keys take their defaults. Returns false with error naming the file and the
// reason when the file cannot be read; a file without any of the keys still loads.
bool LoadMenuTemplate(const std::string& path, MenuTemplate& result, std::string* error = nullptr);

// The folder of the installed templates: program folder + "template/".
std::string TemplateFolder(const std::string& programFolder);

// One entry of the template list.
struct TemplateListEntry {
    std::string fileName; // e.g. "classic.ini" (the entry's data)
    std::string name; // "NAME", shown in the list
    int itemsCount = 0; // "Items_count"
    QImage preview; // 128 x 96, only when asked for
};

enum class TemplatePreviews { Skip, Make };

// Lists every "*.ini" file of folder (letter case of the extension ignored), sorted by
// file name so that the list is the same on every file system. A missing folder gives an
// empty list. Unreadable files are still listed, with the defaults.
std::vector<TemplateListEntry> ListTemplates(const std::string& folder,
                                             TemplatePreviews previews = TemplatePreviews::Skip);

// The 128 x 96 picture of a template for the template list: its own background (never
// the override) at natural size with the frame drawn at every entry, stretched smoothly.
// When the background cannot be decoded the preview stays black.
QImage MakeTemplatePreview(const MenuTemplate& menuTemplate);

// The disc-menu state. It is not stored in the project file. Owned by the user
// interface; the production run reads it while the user interface waits.
class DiscMenuState {
public:
    // programFolder with a trailing "/"; the current template starts as
    // "template/classic.ini" and its entries per page are read at once.
    explicit DiscMenuState(std::string programFolder);

    const std::string& ProgramFolder() const { return programFolder_; }
    // "template/<file name>" relative to the program folder, or an absolute path for a
    // template chosen from elsewhere.
    const std::string& CurrentTemplate() const { return currentTemplate_; }
    std::string CurrentTemplatePath() const;
    int EntriesPerPage() const { return entriesPerPage_; }

    const std::string& BackgroundOverride() const { return backgroundOverride_; }
    void SetBackgroundOverride(std::string path) { backgroundOverride_ = std::move(path); }
    const std::string& BackgroundMusic() const { return backgroundMusic_; }
    void SetBackgroundMusic(std::string path) { backgroundMusic_ = std::move(path); }

    // Makes the installed template fileName current: reads its "Items_count" as entries
    // per page and clears the background override; the caller then shows the first menu
    // page again. A template that cannot be read, or whose "Items_count" is below 1 (it
    // could never make a disc: the pages are the albums divided by the entries), is
    // refused with error set, and the state stays as it was.
    bool SelectTemplate(const std::string& fileName, std::string* error = nullptr);
    // The same for a template file anywhere (a designer trying a template out).
    bool SelectTemplateFile(const std::string& path, std::string* error = nullptr);

    // Reads the current template file (templates are read afresh for every drawing).
    bool LoadCurrentTemplate(MenuTemplate& result, std::string* error = nullptr) const;

private:
    bool Select(const std::string& current, std::string* error);

    std::string programFolder_;
    std::string currentTemplate_;
    int entriesPerPage_ = 0;
    std::string backgroundOverride_;
    std::string backgroundMusic_;
};

} // namespace lumivox
