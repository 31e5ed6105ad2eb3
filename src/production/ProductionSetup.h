// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// What every front end does before a production run starts — the command line's make
// and burn, and the desktop program's burn page alike: the plan is taken from the project
// on the calling thread, the menu and its files are checked, the TV norm and the temporary
// folder come from the settings unless given, the CD label defaults to the project's
// name, the output's folder is checked, and the run gets a folder of its own below the
// temporary folder. Everything that can be known to be wrong is refused here, with one
// message naming the file and the reason, before any work begins.

#include "base/FileDescriptor.h"
#include "base/TvNorm.h"
#include "production/ProductionJob.h"
#include "vcd/VolumeLabel.h"

#include <memory>
#include <optional>
#include <string>

namespace lumivox {

class AlbumTable;
class DiscMenuState;
class Settings;

// The CD label when none is given.
inline constexpr const char* kDefaultCdLabel = "LUMIVOX";

// The volume label made from a project file's name (without its extension) as
// MapVolumeLabel makes any label: capitals, digits and "_", at most 32; kDefaultCdLabel
// when nothing of the name is left.
std::string LabelFromProject(const std::string& projectPath);

// A folder of one run below the temporary folder ("make-XXXXXX"), so that two runs
// never share files; removed with everything in it when the object goes, unless kept.
// The folder is locked while its run lives: the folders a killed run left behind (not
// locked, not kept) are removed when the next run creates its own.
class RunFolder {
public:
    RunFolder() = default;
    ~RunFolder();
    RunFolder(const RunFolder&) = delete;
    RunFolder& operator=(const RunFolder&) = delete;

    // Creates base (and its parents) when missing and the run's folder in it. False with
    // error naming the folder and the reason.
    bool Create(const std::string& base, std::string* error);
    void Keep();
    bool Kept() const { return keep_; }
    // With a trailing "/"; empty until created.
    const std::string& Path() const { return path_; }

private:
    std::string path_;
    bool keep_ = false;
    FileDescriptor lock_; // the run folder itself, locked
};

struct ProductionRequest {
    // The project; its snapshot is taken on the calling thread (its first albumCount
    // albums, -1 = all).
    const AlbumTable* project = nullptr;
    int albumCount = -1;
    // The project's file, for the default CD label; may be empty.
    std::string projectPath;
    // The disc menu: template, background override, music. Required.
    const DiscMenuState* menu = nullptr;
    // Default: the "PAL" setting.
    std::optional<TvNorm> norm;
    // The CD label as the user typed it; the disc carries MapVolumeLabel of it, and
    // LabelFromProject(projectPath) when none is given or nothing of it is left.
    std::optional<std::string> label;
    // The setting "Slideshow track" for this run (default: the settings').
    std::optional<SlideshowTrackMode> slideshowTrack;
    // The temporary folder the run's own folder goes into. Default: the "TempDir" setting.
    std::string tempFolder;
    // A file the run will make (a disc image's CUE or BIN): its folder must exist and take
    // files. Empty when the run writes no file (burning).
    std::string outputPath;
    // Default: the program folder.
    std::string programFolder;
    int jobs = 0;
    bool keepRunFolder = false;
    // The program's settings; null means the defaults.
    const Settings* settings = nullptr;
};

struct PreparedProduction {
    std::string error; // empty when the run can start
    // Everything but the sink and the cancel event, which the caller supplies.
    ProductionParameters parameters;
    // The run's folder (parameters.tempFolder); removed when the last holder lets go.
    std::shared_ptr<RunFolder> runFolder;
    // The label the disc carries (parameters.plan.cdLabel), and whether it differs from
    // the one the request gave: a front end says so.
    VolumeLabel label;

    bool Ok() const { return error.empty(); }
};

PreparedProduction PrepareProduction(const ProductionRequest& request);

} // namespace lumivox
