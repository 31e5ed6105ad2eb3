// SPDX-License-Identifier: GPL-2.0-or-later
// lumivox-cli new: a project file made from folders of pictures, one album per folder,
// through the same project operations and project file writer as the album editor.

#include "CliSupport.h"
#include "Command.h"

#include "base/TextUtil.h"
#include "project/AlbumTable.h"
#include "project/ProjectFolders.h"
#include "project/Settings.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace lumivox::cli {

namespace {

constexpr const char* kNewName = "lumivox-cli new";

int Fail(const std::string& message, int status = 1)
{
    std::fprintf(stderr, "%s: %s\n", kNewName, OneLine(message).c_str());
    return status;
}

int RunNew(const std::vector<std::string>& args)
{
    std::string projectPath;
    std::vector<std::string> folders;
    Settings settings;
    settings.Load(SettingsLocations::ForThisProgram());
    int wait = settings.waitTime;
    bool force = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--wait") {
            if (i + 1 >= args.size())
                return Fail("--wait needs a number of seconds", 2);
            const std::string& text = args[++i];
            char* end = nullptr;
            const long seconds = std::strtol(text.c_str(), &end, 10);
            if (text.empty() || *end != '\0' || seconds < kMinStoredWaitTime || seconds > kMaxStoredWaitTime)
                return Fail(Format("--wait: '%s' is not a number of seconds from %d to %d", text.c_str(),
                                   kMinStoredWaitTime, kMaxStoredWaitTime),
                            2);
            wait = static_cast<int>(seconds);
        } else if (arg == "--force") {
            force = true;
        } else if (!arg.empty() && arg[0] == '-') {
            return Fail("unknown option '" + arg + "' (see lumivox-cli help new)", 2);
        } else if (projectPath.empty()) {
            projectPath = arg;
        } else {
            folders.push_back(arg);
        }
    }
    if (projectPath.empty())
        return Fail("no project file given (see lumivox-cli help new)", 2);
    if (folders.empty())
        return Fail("no folder of pictures given (see lumivox-cli help new)", 2);
    std::error_code ec;
    if (std::filesystem::is_directory(projectPath, ec))
        return Fail(projectPath + ": is a folder; name the project file to make first", 2);
    if (std::filesystem::exists(projectPath, ec) && !force)
        return Fail(projectPath + ": the file exists already (--force replaces it)");

    ProjectListing listing;
    std::vector<std::string> warnings;
    std::string error;
    if (!ListFolderAlbums(folders, wait, listing, warnings, &error))
        return Fail(error);
    for (const std::string& warning : warnings)
        std::fprintf(stderr, "%s: warning: %s\n", kNewName, OneLine(warning).c_str());
    // A camera's portrait stands upright, as when the editor adds it.
    OrientListedPictures(listing, settings);

    // Every picture is decoded as the editor decodes what it adds, on every core, so a
    // file that is no picture is named now rather than when the disc is made.
    AlbumTable project;
    project.SetDefaultWaitTime(wait);
    const ProjectLoadResult added = project.ApplyDecodedProject(DecodeProjectListing(std::move(listing)));
    for (const SkippedPicture& skipped : added.skipped)
        std::fprintf(stderr, "%s: warning: %s\n", kNewName,
                     OneLine(Format("%s (left out of album %02d \"%s\")", PathAndReason(skipped.path, skipped.reason).c_str(),
                                    skipped.album, skipped.albumName.c_str()))
                         .c_str());
    // The keys of an old file are not kept; it is replaced only once the new one is
    // written whole, so a full disk or a kill leaves it as it was.
    if (!project.SaveProject(projectPath, &error, nullptr, force))
        return Fail(error.empty() ? projectPath + ": the project cannot be written" : error);
    std::printf("Project written: %s\n  %s\n", EscapeControls(projectPath).c_str(), project.StatusText().c_str());
    return 0;
}

const CommandRegistration registration({
    "new",
    "PROJECT.lvx FOLDER... [--wait SECONDS] [--force]",
    "Makes a project file with one album per folder: the album is named after the folder\n"
    "and holds the folder's pictures (JPEG, TIFF, BMP, EPS, PNG, WebP and HEIC/HEIF files,\n"
    "found by their extension in any case; sub-folders are not looked into) in natural\n"
    "name order, IMG_2 before IMG_10. An album holds at most 99 pictures: the others are\n"
    "named in a warning, and so is every file that turns out not to be a picture the\n"
    "program can use. A photo whose EXIF orientation says it lies on its side gets the\n"
    "turn that stands it upright, as in the album editor (AutoOrient=0 in config.ini\n"
    "leaves every picture as it is stored).\n"
    "\n"
    "Options:\n"
    "  --wait SECONDS   the albums' wait time, 2 to 1200; default: WaitTime of config.ini\n"
    "  --force          replace PROJECT.lvx when it exists (otherwise it is refused)\n"
    "\n"
    "Exit status: 0 when the project file was written, 1 when it could not be (one line on\n"
    "standard error names the file or folder and the reason), 2 for wrong arguments.",
    &RunNew,
});

} // namespace

} // namespace lumivox::cli
