// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Choices shared by the commands that render or make a disc: which template a
// --template value names, and the TV norm when neither --pal nor --ntsc is given.

#include "base/Event.h"
#include "picture/FrameRenderer.h"
#include "picture/MenuTemplate.h"
#include "production/ProductionPlan.h"
#include "project/AlbumTable.h"
#include "project/Settings.h"

#include <atomic>
#include <csignal>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace lumivox::cli {

// Makes the template a --template value names current: an installed template by file
// name ("classic.ini", or "classic"), or a template file anywhere when the value names
// an existing file or contains a folder. False with *error naming the file and reason.
bool ChooseTemplate(DiscMenuState& state, const std::string& value, std::string* error);

// The parts of the disc design a command line gives; each replaces the project's own.
struct DesignOptions {
    std::string templateValue; // --template; empty when not given
    std::optional<std::string> background; // --background; "" for the template's own
    std::optional<std::string> music; // --music; "" for none
};

// Sets state to the disc menu the desktop program shows for the project: the template,
// menu background and music its file names (a file of an older writer names none: the
// installed default template, its own background, no music), each part replaced by what
// options give. A part of the project's design that can no longer be used (a file that is
// gone, a template that cannot make a menu) is left out as the desktop program leaves it
// out, and named in a warning on standard error prefixed with commandName; a template the
// command line names must be usable, else false with *error.
bool SetUpDiscMenu(DiscMenuState& state, const ProjectDesign& design, const DesignOptions& options,
                   const std::string& commandName, std::string* error);

// Gives each picture of listing the turn its EXIF orientation asks for, as the desktop
// program's editor does with the pictures it adds, unless the "AutoOrient" setting is off.
void OrientListedPictures(ProjectListing& listing, const Settings& settings);

// Makes the off-screen graphics application a command draws with, on the main thread.
// The toolkit takes the user's locale as it starts; numbers are then put back to the "C"
// way, so that what the command parses (an emulated recorder's options) and prints reads
// the same under every locale.
void StartOffscreenGraphics();

// The "PAL" setting of config.ini: true for PAL, false (also without a file) for NTSC.
bool PalFromSettings();
// The "SlideshowTrack" setting of config.ini (auto when missing or unknown).
SlideshowTrackMode SlideshowTrackFromSettings();

// Ctrl-C, SIGTERM and SIGHUP set the cancel event. The signals are blocked in every thread (the
// watcher is made before the first thread starts) and read from a signal descriptor by
// one watcher thread, so the event is never touched from a signal handler. The watcher
// sleeps in poll until a signal comes or it is destroyed.
class SignalWatcher {
public:
    // commandName prefixes the "cancelling..." line. A second signal sets leaveNow (when
    // given): the run then stops waiting for a drive that is finishing a disc.
    SignalWatcher(ManualResetEvent& cancel, std::string commandName, ManualResetEvent* leaveNow = nullptr);
    ~SignalWatcher();
    SignalWatcher(const SignalWatcher&) = delete;
    SignalWatcher& operator=(const SignalWatcher&) = delete;
    // The first signal taken, 0 when none.
    int Signal() const { return signal_.load(); }
    bool Signalled() const { return Signal() != 0; }

private:
    void Watch();

    ManualResetEvent& cancel_;
    ManualResetEvent* leaveNow_;
    const std::string commandName_;
    sigset_t signals_{};
    int signalFd_ = -1;
    ManualResetEvent done_;
    std::atomic<int> signal_{0};
    std::jthread thread_;
};

// The albums a make or burn command works on: one project file (PROJECT.lvx), or one or
// more folders, each an album (see ListFolderAlbums) whose pictures are turned as
// OrientListedPictures turns them. Pictures are only checked by their
// header: the run decodes each once, for its slide, and takes an album's menu cover from
// its cover's slide decode. Warnings (pictures left out, folders without
// pictures) are printed on standard error, prefixed with commandName. False with error
// when the input cannot be used.
struct ProjectInput {
    std::string projectPath; // the project file, or empty for folders
    std::vector<std::string> folders; // the folders, or empty for a project file
    ProjectDesign design; // the disc design the project file stores (none for folders)
};
bool LoadProjectInput(const std::vector<std::string>& inputs, const std::string& commandName, AlbumTable& project,
                      ProjectInput& input, std::string* error);

// One line for the user: the run's texts may carry a fixed text and its detail on two lines.
std::string OneLine(std::string text);

// "PATH: reason", or the reason alone when it names the file already ("Opening PATH
// failed: ..."), so that no message names a file twice.
std::string PathAndReason(const std::string& path, const std::string& reason);

// How slides are fitted: "SquarePixelSlides=1" in config.ini asks for square pixels.
SlideGeometry SlideGeometryFromSettings();

} // namespace lumivox::cli
