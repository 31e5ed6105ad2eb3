// SPDX-License-Identifier: GPL-2.0-or-later
#include "CliSupport.h"

#include "base/IniFile.h"
#include "base/Paths.h"
#include "base/TextUtil.h"
#include "picture/ExifOrientation.h"
#include "picture/QtGuiHost.h"

#include "project/ProjectFolders.h"
#include "project/Settings.h"

#include <clocale>
#include <cstdio>
#include <filesystem>
#include <poll.h>
#include <pthread.h>
#include <sys/signalfd.h>
#include <string_view>
#include <system_error>
#include <unistd.h>

namespace lumivox::cli {

bool ChooseTemplate(DiscMenuState& state, const std::string& value, std::string* error)
{
    std::error_code ec;
    const bool isPath = value.find('/') != std::string::npos;
    const std::string installed = TemplateFolder(state.ProgramFolder());
    if (isPath ||
        (std::filesystem::is_regular_file(value, ec) && !std::filesystem::is_regular_file(installed + value, ec)))
        return state.SelectTemplateFile(value, error);
    std::string fileName = value;
    if (!EqualsIgnoreCase(std::filesystem::path(fileName).extension().string(), ".ini") &&
        !std::filesystem::is_regular_file(installed + fileName, ec))
        fileName += ".ini";
    return state.SelectTemplate(fileName, error);
}

bool SetUpDiscMenu(DiscMenuState& state, const ProjectDesign& design, const DesignOptions& options,
                   const std::string& commandName, std::string* error)
{
    auto warn = [&commandName](const std::string& text) {
        std::fprintf(stderr, "%s: warning: %s\n", commandName.c_str(), OneLine(text).c_str());
    };
    if (!options.templateValue.empty()) {
        if (!ChooseTemplate(state, options.templateValue, error))
            return false;
    } else if (!design.menuTemplate.empty() && design.menuTemplate != state.CurrentTemplate()) {
        // The project names an installed template as "template/NAME", any other by its path.
        constexpr std::string_view kInstalled = "template/";
        std::string reason;
        const bool installed = design.menuTemplate.rfind(kInstalled, 0) == 0;
        if (!(installed ? state.SelectTemplate(design.menuTemplate.substr(kInstalled.size()), &reason)
                        : state.SelectTemplateFile(design.menuTemplate, &reason)))
            warn(reason + " (the project's menu template is left out; the default template is used)");
    }
    // A picture or music file that went away is named and left out, not kept: the disc
    // could not be made with it.
    auto fromProject = [&warn](const std::string& path, const char* what) {
        std::error_code ec;
        if (path.empty() || std::filesystem::is_regular_file(path, ec))
            return path;
        warn(path + ": the project's menu " + what +
             (std::filesystem::exists(path, ec) ? " is not a regular file" : " does not exist") +
             "; it is left out");
        return std::string();
    };
    state.SetBackgroundOverride(options.background ? *options.background : fromProject(design.background, "background"));
    state.SetBackgroundMusic(options.music ? *options.music : fromProject(design.music, "music"));
    return true;
}

void OrientListedPictures(ProjectListing& listing, const Settings& settings)
{
    if (!settings.AutoOrient())
        return;
    for (ListedAlbum& album : listing.albums)
        for (ListedPicture& picture : album.pictures)
            picture.rotation = RotationForOrientation(ReadJpegOrientation(picture.path));
}

void StartOffscreenGraphics()
{
    EnsureGuiApplication(GuiPlatform::Offscreen);
    std::setlocale(LC_NUMERIC, "C");
}

bool PalFromSettings()
{
    return GetPrivateProfileInt("GENERAL", "PAL", 0, ConfigFilePath()) != 0;
}

std::string PathAndReason(const std::string& path, const std::string& reason)
{
    if (!path.empty() && reason.find(path) != std::string::npos)
        return reason;
    return path + ": " + reason;
}

std::string OneLine(std::string text)
{
    while (!text.empty() && text.back() == '\n')
        text.pop_back();
    for (char& c : text)
        if (c == '\n')
            c = ' ';
    // Names from project files and folders reach the terminal here: their control
    // characters are shown, never obeyed.
    return EscapeControls(text);
}

SignalWatcher::SignalWatcher(ManualResetEvent& cancel, std::string commandName, ManualResetEvent* leaveNow)
    : cancel_(cancel), leaveNow_(leaveNow), commandName_(std::move(commandName))
{
    sigemptyset(&signals_);
    sigaddset(&signals_, SIGINT);
    sigaddset(&signals_, SIGTERM);
    // A closed terminal (or ssh session) stops the run the same clean way.
    sigaddset(&signals_, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &signals_, nullptr);
    signalFd_ = ::signalfd(-1, &signals_, SFD_CLOEXEC | SFD_NONBLOCK);
    thread_ = std::jthread([this] { Watch(); });
}

SignalWatcher::~SignalWatcher()
{
    done_.Set();
    if (thread_.joinable())
        thread_.join();
    if (signalFd_ >= 0)
        ::close(signalFd_);
}

void SignalWatcher::Watch()
{
    const int doneFd = done_.NotifyDescriptor();
    for (;;) {
        pollfd watched[2] = {{signalFd_, POLLIN, 0}, {doneFd, POLLIN, 0}};
        // Without a descriptor for either, fall back to looking every tenth of a second.
        const bool canSleep = signalFd_ >= 0 && doneFd >= 0;
        const int ready = ::poll(watched, 2, canSleep ? -1 : 100);
        if (done_.IsSet())
            return;
        if (ready <= 0 || signalFd_ < 0 || !(watched[0].revents & POLLIN))
            continue;
        signalfd_siginfo info{};
        while (::read(signalFd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
            const int taken = static_cast<int>(info.ssi_signo);
            if (taken != SIGINT && taken != SIGTERM && taken != SIGHUP)
                continue;
            if (signal_.exchange(taken) == 0) {
                std::fprintf(stderr, "\n%s: cancelling...%s\n", commandName_.c_str(),
                             leaveNow_ ? " (again to stop waiting for the drive)" : "");
            } else if (leaveNow_ && !leaveNow_->IsSet()) {
                std::fprintf(stderr, "\n%s: not waiting for the drive any longer; it may still be busy.\n",
                             commandName_.c_str());
                leaveNow_->Set();
            }
            cancel_.Set();
        }
    }
}

bool LoadProjectInput(const std::vector<std::string>& inputs, const std::string& commandName, AlbumTable& project,
                      ProjectInput& input, std::string* error)
{
    auto fail = [error](const std::string& text) {
        if (error)
            *error = text;
        return false;
    };
    if (inputs.empty())
        return fail("no project file or folder given");
    std::error_code ec;
    const bool firstIsFolder = std::filesystem::is_directory(inputs.front(), ec);
    ProjectLoadResult loaded;
    if (!firstIsFolder) {
        if (inputs.size() > 1)
            return fail("more than one project given ('" + inputs[0] + "', '" + inputs[1] + "')");
        input.projectPath = inputs.front();
        loaded = project.LoadProject(input.projectPath, PictureLoading::HeadersOnly);
        if (!loaded.Loaded())
            return fail(loaded.error.empty() ? input.projectPath + ": not a Lumivox project file" : loaded.error);
        input.design = loaded.design;
    } else {
        input.folders = inputs;
        Settings settings;
        settings.Load(SettingsLocations::ForThisProgram());
        ProjectListing listing;
        std::vector<std::string> warnings;
        if (!ListFolderAlbums(inputs, settings.waitTime, listing, warnings, error))
            return false;
        OrientListedPictures(listing, settings);
        for (const std::string& warning : warnings)
            std::fprintf(stderr, "%s: warning: %s\n", commandName.c_str(), OneLine(warning).c_str());
        ProjectDecodeOptions options;
        options.loading = PictureLoading::HeadersOnly;
        loaded = project.ApplyDecodedProject(DecodeProjectListing(std::move(listing), options));
    }
    for (const SkippedPicture& skipped : loaded.skipped)
        std::fprintf(stderr, "%s: warning: %s\n", commandName.c_str(),
                     OneLine(Format("%s (left out of album %02d \"%s\")", PathAndReason(skipped.path, skipped.reason).c_str(),
                                    skipped.album, skipped.albumName.c_str()))
                         .c_str());
    if (loaded.albumsBeyondLimit > 0)
        std::fprintf(stderr, "%s: warning: %s\n", commandName.c_str(),
                     OneLine(Format("%s: %d album%s beyond the %d a disc can hold %s left out",
                                    input.projectPath.c_str(), loaded.albumsBeyondLimit,
                                    loaded.albumsBeyondLimit == 1 ? "" : "s", MAX_ALBUMS,
                                    loaded.albumsBeyondLimit == 1 ? "is" : "are"))
                         .c_str());
    return true;
}

SlideshowTrackMode SlideshowTrackFromSettings()
{
    SlideshowTrackMode mode = SlideshowTrackMode::Auto;
    ParseSlideshowTrackMode(GetPrivateProfileString("GENERAL", "SlideshowTrack", "auto", ConfigFilePath()), mode);
    return mode;
}

SlideGeometry SlideGeometryFromSettings()
{
    return GetPrivateProfileInt("GENERAL", "SquarePixelSlides", 0, ConfigFilePath()) == 1 ? SlideGeometry::SquarePixels
                                                                                          : SlideGeometry::TvAspect;
}

} // namespace lumivox::cli
