// SPDX-License-Identifier: GPL-2.0-or-later
// lumivox-cli render: every menu page and every slide frame of a project as PNG files,
// exactly as they go on the disc — for template designers and for checking by eye.

#include "CliSupport.h"
#include "Command.h"
#include "Options.h"

#include "base/IniFile.h"
#include "base/Paths.h"
#include "base/SafeOutput.h"
#include "base/TextUtil.h"
#include "picture/FrameRenderer.h"
#include "picture/MenuTemplate.h"
#include "picture/QtGuiHost.h"
#include "picture/QtImage.h"
#include "project/AlbumTable.h"

#include <QBuffer>
#include <QByteArray>

#include <sys/stat.h>

#include <cstdio>
#include <optional>
#include <set>
#include <string_view>
#include <utility>
#include <filesystem>
#include <string>
#include <vector>

namespace lumivox::cli {

namespace {

constexpr const char* kRenderName = "lumivox-cli render";

int Fail(const std::string& message)
{
    std::fprintf(stderr, "%s: %s\n", kRenderName, OneLine(message).c_str());
    return 1;
}

// The files the pictures are rendered from, by device and inode: a rendered picture
// must never replace one of them.
using FileIds = std::set<std::pair<dev_t, ino_t>>;

void AddFileId(FileIds& ids, const std::string& path)
{
    struct stat info { };
    if (!path.empty() && ::stat(path.c_str(), &info) == 0)
        ids.insert({info.st_dev, info.st_ino});
}

bool SavePng(const PicBitmap& frame, const std::string& path, const FileIds& inputs, std::string* error)
{
    FileIds written;
    AddFileId(written, path);
    if (!written.empty() && inputs.count(*written.begin()) != 0) {
        *error = path + ": is one of the render's own input files; choose another output folder";
        return false;
    }
    const QImage image = ToQImage(frame);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (image.isNull() || !image.save(&buffer, "PNG")) {
        *error = path + ": cannot be written";
        return false;
    }
    return WriteFileSafely(path, std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())), error);
}

int RunRender(const std::vector<std::string>& args)
{
    std::string projectPath;
    std::string outFolder;
    SharedOptions shared;
    std::optional<std::string> background; // replaces the project's; "" for none
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        std::string sharedError;
        if (TakeSharedOption(args, &i, kNormOption | kTemplateOption, &shared, &sharedError)) {
            if (!sharedError.empty())
                return Fail(sharedError);
            continue;
        }
        auto value = [&](std::string& into) {
            if (i + 1 >= args.size())
                return false;
            into = args[++i];
            return true;
        };
        if (arg == "--out" || arg == "-o") {
            if (!value(outFolder))
                return Fail("--out needs a folder");
        } else if (arg == "--background") {
            if (!value(background.emplace()))
                return Fail("--background needs a picture file");
        } else if (!arg.empty() && arg[0] == '-') {
            return Fail("unknown option '" + arg + "'");
        } else if (projectPath.empty()) {
            projectPath = arg;
        } else {
            return Fail("more than one project given ('" + projectPath + "', '" + arg + "')");
        }
    }
    if (projectPath.empty())
        return Fail("no project file given (see lumivox-cli help render)");
    if (outFolder.empty())
        return Fail("no output folder given: use --out DIR");
    const int norm = PalChosen(shared) ? 1 : 0;
    const TvNorm tvNorm = norm ? TvNorm::Pal : TvNorm::Ntsc;

    StartOffscreenGraphics();

    AlbumTable project;
    const ProjectLoadResult loaded = project.LoadProject(projectPath);
    if (!loaded.Loaded())
        return Fail(loaded.error.empty() ? projectPath + ": not a Lumivox project file" : loaded.error);
    for (const SkippedPicture& skipped : loaded.skipped)
        std::fprintf(stderr, "%s: warning: %s\n", kRenderName,
                     OneLine(Format("%s (album %02d \"%s\" left it out)", PathAndReason(skipped.path, skipped.reason).c_str(),
                                    skipped.album, skipped.albumName.c_str()))
                         .c_str());

    // The menu of the project's design, as on its disc, unless the command line gives a part.
    DiscMenuState state(ProgramFolder());
    std::string error;
    if (!SetUpDiscMenu(state, loaded.design, {shared.templateValue, background, std::nullopt}, kRenderName, &error))
        return Fail(error);
    MenuTemplate menuTemplate;
    if (!state.LoadCurrentTemplate(menuTemplate, &error))
        return Fail(error);
    if (state.EntriesPerPage() < 1)
        return Fail(menuTemplate.path + ": the template has no menu entries (\"Items_count\" is " +
                    std::to_string(menuTemplate.itemsCount) + ")");

    if (!CreateFolder(WithTrailingSlash(outFolder)))
        return Fail(outFolder + ": the output folder cannot be created");
    const std::string folder = WithTrailingSlash(outFolder);
    FileIds inputs;
    for (const std::string& path : {projectPath, state.BackgroundOverride(), state.CurrentTemplatePath()})
        AddFileId(inputs, path);
    for (int a = 0; a < project.AlbumCount(); ++a)
        for (int p = 0; p < project.PictureCount(a); ++p)
            AddFileId(inputs, project.Picture(a, p).path);

    std::vector<MenuAlbum> albums;
    for (int a = 0; a < project.AlbumCount(); ++a) {
        const AlbumInfo& album = project.Album(a);
        const PictureItem* cover = album.Cover();
        albums.push_back({album.name, album.PictureCount() > 0, cover ? cover->slideThumbnail.get() : nullptr,
                          cover ? cover->picture.get() : nullptr});
    }

    int failures = 0;
    const int pages = MenuPageCount(project.AlbumCount(), state.EntriesPerPage());
    for (int page = 0; page < pages; ++page) {
        PicBitmap frame;
        if (!RenderMenuFrame(menuTemplate, state.BackgroundOverride(), albums, page * state.EntriesPerPage(), tvNorm,
                             frame, &error)) {
            // Without a background nothing of the page can be drawn: every page fails
            // the same way, so say it once.
            return Fail("menu page " + std::to_string(page + 1) + ": " + error);
        }
        if (!SavePng(frame, folder + Format("menu_%02d.png", page + 1), inputs, &error))
            return Fail(error);
    }

    int slides = 0;
    const SlideGeometry geometry = SlideGeometryFromSettings();
    for (int a = 0; a < project.AlbumCount(); ++a) {
        for (int p = 0; p < project.PictureCount(a); ++p) {
            const PictureItem& picture = project.Picture(a, p);
            PicBitmap frame;
            try {
                RenderSlideFrame(picture.path, picture.rotated ? picture.rotation : 0, tvNorm, frame, geometry);
            } catch (const PLTextException& e) {
                std::fprintf(stderr, "%s: %s\n", kRenderName,
                             OneLine(Format("%s: %s (album %02d, picture %02d not rendered)", picture.path.c_str(),
                                            e.GetText().c_str(), a + 1, p + 1))
                                 .c_str());
                ++failures;
                continue;
            }
            if (!SavePng(frame, folder + Format("menu_%02d_pic_%02d.png", a + 1, p + 1), inputs, &error))
                return Fail(error);
            ++slides;
        }
    }
    std::fputs(Format("%d menu page%s and %d slide%s (%s, 704 x %d) written to %s\n", pages, pages == 1 ? "" : "s",
                      slides, slides == 1 ? "" : "s", norm ? "PAL" : "NTSC", FrameHeight(tvNorm),
                      EscapeControls(folder).c_str())
                   .c_str(),
               stdout);
    return failures ? 1 : 0;
}

const CommandRegistration registration({
    "render",
    "PROJECT.lvx --out DIR [--template NAME|FILE] [--background FILE] [--pal|--ntsc]",
    "Renders every disc-menu page and every slide of a project into PNG files, exactly\n"
    "as they go on the disc (704 x 480 for NTSC, 704 x 576 for PAL):\n"
    "  DIR/menu_01.png, menu_02.png, ...        the menu pages, counted from 01\n"
    "  DIR/menu_AA_pic_PP.png                   slide PP of album AA, counted from 01\n"
    "\n"
    "Options:\n"
    "  --out DIR, -o DIR    folder for the PNG files; created when missing\n"
    "  --template NAME|FILE the disc-menu template: the file name of an installed\n"
    "                       template (\"classic.ini\" or just \"classic\"; see\n"
    "                       lumivox-cli templates) or the path of a template file\n"
    "                       anywhere, whose picture folder (\"Folder_name\") is looked\n"
    "                       up beside that file. Default: the project's template, else\n"
    "                       classic.ini\n"
    "  --background FILE    a picture that replaces the template's background; default:\n"
    "                       the project's; \"\" for the template's own\n"
    "  --pal, --ntsc        the TV norm; default: the PAL setting of config.ini (NTSC)\n"
    "\n"
    "The menu is the one the project file names (template and background), as on its\n"
    "disc; a file of it that is gone is named in a warning and left out.\n"
    "\n"
    "Pictures that cannot be decoded are named on standard error and left out; the exit\n"
    "status is then 1. A template without menu entries, a background that cannot be\n"
    "decoded or a project that cannot be read stop the command with exit status 1.",
    RunRender,
});

} // namespace

} // namespace lumivox::cli
