// SPDX-License-Identifier: GPL-2.0-or-later
#include "logic/TemplateCheck.h"

#include "picture/FrameRenderer.h"
#include "picture/MenuTemplate.h"
#include "picture/PicReader.h"

namespace lumivox::ui {

namespace {

std::string WithoutFinalStop(std::string text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == '.'))
        text.pop_back();
    return text;
}

std::string BitmapProblem(const std::string& name, const std::string& path)
{
    if (name.empty())
        return {};
    TransparentBitmap bitmap;
    std::string error;
    if (bitmap.Load(path, &error))
        return {};
    return error.empty() ? path + ": cannot be read" : error;
}

} // namespace

std::string BackgroundProblem(const std::string& path)
{
    if (path.empty())
        return "the template names no background picture";
    try {
        // Every byte of the picture is decoded, at the reduced scale: a camera's photo is
        // checked in a fraction of the time a full decode takes (the user waits for it).
        PicReader reader;
        reader.SetMode(DecodeMode::Reduced);
        PicBitmap bitmap;
        reader.DecodeFile(path, bitmap, 32);
        return {};
    } catch (const PLTextException& e) {
        return path + ": " + WithoutFinalStop(e.GetText());
    } catch (const std::exception& e) {
        return path + ": " + e.what();
    }
}

std::string TemplateProblem(const std::string& path)
{
    MenuTemplate t;
    std::string error;
    if (!LoadMenuTemplate(path, t, &error))
        return error;
    if (t.itemsCount < 1)
        return path + ": the template has no menu entries (\"Items_count\" is " + std::to_string(t.itemsCount) + ")";
    // The remote and the disc's players choose an entry by its number key: an entry past
    // the ninth could never be chosen.
    if (t.itemsCount > kMaxEntriesPerPage)
        return path + ": the template has " + std::to_string(t.itemsCount) + " entries per page, but a remote has " +
               "only " + std::to_string(kMaxEntriesPerPage) + " number keys to choose them";
    if (t.CanvasWidth() > kMaxCanvasSide || t.CanvasHeight() > kMaxCanvasSide)
        return path + ": the menu canvas " + std::to_string(t.CanvasWidth()) + " x " +
               std::to_string(t.CanvasHeight()) + " is too large";
    if (t.backgroundImage.empty())
        return path + ": the template names no background picture";
    if (std::string problem = BackgroundProblem(t.BackgroundPath()); !problem.empty())
        return problem;
    for (const auto& [name, file] :
         {std::pair{t.frameImage, t.FramePath()}, std::pair{t.nextButton, t.NextButtonPath()},
          std::pair{t.prevButton, t.PrevButtonPath()}})
        if (std::string problem = BitmapProblem(name, file); !problem.empty())
            return problem;
    return {};
}

} // namespace lumivox::ui
