// SPDX-License-Identifier: GPL-2.0-or-later
#include "picture/MenuTemplate.h"

#include "base/IniFile.h"
#include "base/Paths.h"
#include "base/TextUtil.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace lumivox {

namespace {

constexpr const char* kGeneral = "General";
constexpr const char* kPositions = "POSITIONS";
constexpr const char* kColor = "COLOR";

std::string InFolder(const std::string& folder, const std::string& file)
{
    return file.empty() ? std::string() : folder + file;
}

std::string FolderOf(const std::string& path)
{
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    return parent.empty() ? std::string("./") : WithTrailingSlash(parent.string());
}

} // namespace

std::string MenuTemplate::BackgroundPath() const
{
    return InFolder(pictureFolder, backgroundImage);
}
std::string MenuTemplate::FramePath() const
{
    return InFolder(pictureFolder, frameImage);
}
std::string MenuTemplate::NextButtonPath() const
{
    return InFolder(pictureFolder, nextButton);
}
std::string MenuTemplate::PrevButtonPath() const
{
    return InFolder(pictureFolder, prevButton);
}
int MenuTemplate::CanvasWidth() const
{
    return backgroundWidth > 0 ? backgroundWidth : kDefaultCanvasWidth;
}
int MenuTemplate::CanvasHeight() const
{
    return backgroundHeight > 0 ? backgroundHeight : kDefaultCanvasHeight;
}

bool LoadMenuTemplate(const std::string& path, MenuTemplate& result, std::string* error)
{
    IniFile ini;
    const IniLoadStatus status = ini.Load(path);
    if (status != IniLoadStatus::Loaded) {
        if (error)
            *error = path + ": " +
                     (status == IniLoadStatus::Missing ? std::string("no such template file") : ini.LastError());
        return false;
    }
    MenuTemplate t;
    t.path = path;
    t.name = ini.GetString(kGeneral, "NAME", "Template");
    t.folderName = ini.GetString(kGeneral, "Folder_name", "");
    t.pictureFolder = t.folderName.empty() ? FolderOf(path) : FolderOf(path) + t.folderName + "/";
    t.backgroundImage = ini.GetString(kGeneral, "Bkground_image", "");
    t.backgroundWidth = ini.GetInt(kGeneral, "Bkground_image_cx", kDefaultCanvasWidth);
    t.backgroundHeight = ini.GetInt(kGeneral, "Bkground_image_cy", kDefaultCanvasHeight);
    t.frameImage = ini.GetString(kGeneral, "Frame_image", "");
    t.frameWidth = ini.GetInt(kGeneral, "frame_cx", 0);
    t.frameHeight = ini.GetInt(kGeneral, "frame_cy", 0);
    t.frameOffsetX = ini.GetInt(kGeneral, "Frame_off_x", 0);
    t.frameOffsetY = ini.GetInt(kGeneral, "Frame_off_y", 0);
    t.imageWidth = ini.GetInt(kGeneral, "image_cx", 0);
    t.imageHeight = ini.GetInt(kGeneral, "image_cy", 0);
    t.textWidth = ini.GetInt(kGeneral, "Text_cx", 0);
    t.textHeight = ini.GetInt(kGeneral, "Text_cy", 0);
    t.itemsCount = ini.GetInt(kGeneral, "Items_count", 0);
    t.nextButton = ini.GetString(kGeneral, "Next_button", "");
    t.nextWidth = ini.GetInt(kGeneral, "next_cx", 0);
    t.nextHeight = ini.GetInt(kGeneral, "next_cy", 0);
    t.prevButton = ini.GetString(kGeneral, "Prev_button", "");
    t.prevWidth = ini.GetInt(kGeneral, "prev_cx", 0);
    t.prevHeight = ini.GetInt(kGeneral, "prev_cy", 0);

    // Every box is drawn at its own size on every menu page: one larger than the canvas
    // shows nothing more, yet a huge one costs minutes and gigabytes a page. Such a
    // template is refused here, naming the key, rather than when the pages are made.
    const struct {
        const char* key;
        int value;
        int limit;
    } sizes[] = {
        {"Bkground_image_cx", t.CanvasWidth(), kMaxCanvasSide},
        {"Bkground_image_cy", t.CanvasHeight(), kMaxCanvasSide},
        {"frame_cx", t.frameWidth, t.CanvasWidth()},
        {"frame_cy", t.frameHeight, t.CanvasHeight()},
        {"image_cx", t.imageWidth, t.CanvasWidth()},
        {"image_cy", t.imageHeight, t.CanvasHeight()},
        {"Text_cx", t.textWidth, t.CanvasWidth()},
        {"Text_cy", t.textHeight, t.CanvasHeight()},
        {"next_cx", t.nextWidth, t.CanvasWidth()},
        {"next_cy", t.nextHeight, t.CanvasHeight()},
        {"prev_cx", t.prevWidth, t.CanvasWidth()},
        {"prev_cy", t.prevHeight, t.CanvasHeight()},
    };
    for (const auto& size : sizes)
        if (size.value > size.limit) {
            if (error)
                *error = path + ": " + size.key + "=" + std::to_string(size.value) + " is larger than " +
                         (size.limit == kMaxCanvasSide ? "a menu canvas may be" : "the menu canvas") + " (" +
                         std::to_string(size.limit) + " pixels)";
            return false;
        }

    const int entries = std::clamp(t.itemsCount, 0, kMaxTemplateEntries);
    for (int n = 1; n <= entries; ++n) {
        t.itemPositions.push_back(
            {ini.GetInt(kPositions, Format("Item_%02d_x", n), 0), ini.GetInt(kPositions, Format("Item_%02d_y", n), 0)});
        t.textPositions.push_back(
            {ini.GetInt(kPositions, Format("Text_%02d_x", n), 0), ini.GetInt(kPositions, Format("Text_%02d_y", n), 0)});
    }
    t.nextButtonPosition = {ini.GetInt(kPositions, "Next_button_x", 0), ini.GetInt(kPositions, "Next_button_y", 0)};
    t.prevButtonPosition = {ini.GetInt(kPositions, "Prev_button_x", 0), ini.GetInt(kPositions, "Prev_button_y", 0)};
    // Only the low 24 bits carry the colour; anything above is not a colour of the format.
    t.textColor = static_cast<std::uint32_t>(ini.GetInt(kColor, "Text_color", 0)) & 0xFFFFFFu;
    t.hasTextOutline = !ini.GetString(kColor, "Text_outline_color", "").empty();
    t.textOutlineColor = static_cast<std::uint32_t>(ini.GetInt(kColor, "Text_outline_color", 0)) & 0xFFFFFFu;
    t.thumbFillColor = static_cast<std::uint32_t>(ini.GetInt(kColor, "Thumb_fill_color", 0)) & 0xFFFFFFu;
    result = std::move(t);
    return true;
}

std::string TemplateFolder(const std::string& programFolder)
{
    return WithTrailingSlash(programFolder) + "template/";
}

std::vector<TemplateListEntry> ListTemplates(const std::string& folder, TemplatePreviews previews)
{
    std::vector<TemplateListEntry> list;
    std::error_code ec;
    std::filesystem::directory_iterator it(folder, ec);
    if (ec)
        return list;
    for (const std::filesystem::directory_iterator end; it != end; it.increment(ec)) {
        if (ec)
            break;
        const std::filesystem::path& path = it->path();
        if (!EqualsIgnoreCase(path.extension().string(), ".ini"))
            continue;
        std::error_code typeError;
        if (!it->is_regular_file(typeError))
            continue;
        TemplateListEntry entry;
        entry.fileName = path.filename().string();
        MenuTemplate menuTemplate;
        if (LoadMenuTemplate(path.string(), menuTemplate)) {
            entry.name = menuTemplate.name;
            entry.itemsCount = menuTemplate.itemsCount;
        } else {
            entry.name = MenuTemplate().name;
        }
        if (previews == TemplatePreviews::Make)
            entry.preview = MakeTemplatePreview(menuTemplate);
        list.push_back(std::move(entry));
    }
    std::sort(list.begin(), list.end(),
              [](const TemplateListEntry& a, const TemplateListEntry& b) { return a.fileName < b.fileName; });
    return list;
}

DiscMenuState::DiscMenuState(std::string programFolder)
    : programFolder_(WithTrailingSlash(std::move(programFolder))),
      currentTemplate_(std::string("template/") + kDefaultTemplateFile)
{
    MenuTemplate current;
    if (LoadCurrentTemplate(current))
        entriesPerPage_ = current.itemsCount;
}

std::string DiscMenuState::CurrentTemplatePath() const
{
    if (std::filesystem::path(currentTemplate_).is_absolute())
        return currentTemplate_;
    return programFolder_ + currentTemplate_;
}

bool DiscMenuState::LoadCurrentTemplate(MenuTemplate& result, std::string* error) const
{
    return LoadMenuTemplate(CurrentTemplatePath(), result, error);
}

bool DiscMenuState::SelectTemplate(const std::string& fileName, std::string* error)
{
    return Select("template/" + fileName, error);
}

bool DiscMenuState::SelectTemplateFile(const std::string& path, std::string* error)
{
    std::error_code ec;
    std::filesystem::path absolute = std::filesystem::absolute(path, ec);
    return Select(ec ? path : absolute.lexically_normal().string(), error);
}

bool DiscMenuState::Select(const std::string& current, std::string* error)
{
    const std::string previous = currentTemplate_;
    currentTemplate_ = current;
    MenuTemplate chosen;
    std::string reason;
    if (!LoadCurrentTemplate(chosen, &reason)) {
        currentTemplate_ = previous;
        if (error)
            *error = reason;
        return false;
    }
    if (chosen.itemsCount < 1) {
        currentTemplate_ = previous;
        if (error)
            *error = chosen.path + ": the template has no menu entries (\"Items_count\" is " +
                     std::to_string(chosen.itemsCount) + ")";
        return false;
    }
    entriesPerPage_ = chosen.itemsCount;
    backgroundOverride_.clear();
    return true;
}

} // namespace lumivox
