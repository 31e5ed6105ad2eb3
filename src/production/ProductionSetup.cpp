// SPDX-License-Identifier: GPL-2.0-or-later
#include "production/ProductionSetup.h"

#include "base/Paths.h"
#include "picture/MenuTemplate.h"
#include "project/AlbumTable.h"
#include "project/Settings.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lumivox {

namespace {

// Why path cannot be read as a file: "does not exist", "is not a regular file" (a FIFO,
// a device, a folder), or empty when it is a regular file.
std::string FileProblem(const std::string& path)
{
    std::error_code ec;
    const std::filesystem::file_status status = std::filesystem::status(path, ec);
    if (!std::filesystem::exists(status))
        return "does not exist";
    return std::filesystem::is_regular_file(status) ? std::string() : std::string("is not a regular file");
}

} // namespace

std::string LabelFromProject(const std::string& projectPath)
{
    return MapVolumeLabel(std::filesystem::path(projectPath).stem().string(), kDefaultCdLabel).text;
}

RunFolder::~RunFolder()
{
    if (!path_.empty() && !keep_) {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
}

namespace {

// Marks a run folder kept (--keep-temp): never taken for the leftover of a dead run.
constexpr const char* kKeptMarker = ".kept";
// Written into every run folder as it is made: only a folder that holds it is one the
// program made, and may be removed as a dead run's. Any other folder in the temporary
// folder (the user's own "make-photos" among them) is never touched.
constexpr const char* kRunMarker = ".lumivox-run";
constexpr std::string_view kRunMarkerText = "A folder of one Lumivox run; removed when the run ends.\n";

// Whether the open folder holds the run marker: a regular file of the folder's owner
// with exactly the marker's text.
bool HoldsRunMarker(int folderFd, uid_t owner)
{
    const FileDescriptor marker(
        ::openat(folderFd, kRunMarker, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    struct stat info { };
    if (!marker || ::fstat(marker.Get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != owner ||
        static_cast<std::size_t>(info.st_size) != kRunMarkerText.size())
        return false;
    char text[128];
    static_assert(kRunMarkerText.size() < sizeof text);
    const ssize_t got = ::read(marker.Get(), text, sizeof text);
    return got >= 0 && std::string_view(text, static_cast<std::size_t>(got)) == kRunMarkerText;
}

// Removes the run folders of dead runs in folder: made by the program (marked), ours,
// not locked by a living run, not kept. Called with the temporary folder locked, so a run
// that is just creating its own folder is never taken for a dead one.
void RemoveDeadRunFolders(const std::string& folder)
{
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() != 11 || name.compare(0, 5, "make-") != 0)
            continue;
        const std::string path = it->path().string();
        const FileDescriptor run(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        struct stat info { };
        if (!run || ::fstat(run.Get(), &info) != 0 || info.st_uid != ::geteuid())
            continue;
        if (!HoldsRunMarker(run.Get(), info.st_uid))
            continue;
        if (::faccessat(run.Get(), kKeptMarker, F_OK, AT_SYMLINK_NOFOLLOW) == 0)
            continue;
        if (::flock(run.Get(), LOCK_EX | LOCK_NB) != 0)
            continue; // a living run
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
}

} // namespace

bool RunFolder::Create(const std::string& base, std::string* error)
{
    const std::string folder = WithTrailingSlash(base);
    if (!CreateFolder(folder)) {
        *error = folder + ": the temporary folder cannot be created";
        return false;
    }
    const FileDescriptor folderLock(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    const bool locked = folderLock && ::flock(folderLock.Get(), LOCK_EX) == 0;
    if (locked)
        RemoveDeadRunFolders(folder);
    std::string pattern = folder + "make-XXXXXX";
    if (!::mkdtemp(pattern.data())) {
        *error = folder + ": cannot create a folder for the run in the temporary folder (" + std::strerror(errno) + ")";
        return false;
    }
    lock_.Reset(::open(pattern.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (lock_)
        (void)::flock(lock_.Get(), LOCK_EX | LOCK_NB);
    path_ = pattern + "/";
    // The marker goes in while the temporary folder is still locked: no other run sees
    // the folder before it is marked and locked.
    const FileDescriptor marker(
        lock_ ? ::openat(lock_.Get(), kRunMarker, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0600)
              : -1);
    int code = marker ? 0 : errno;
    if (marker) {
        const ssize_t put = ::write(marker.Get(), kRunMarkerText.data(), kRunMarkerText.size());
        if (put != static_cast<ssize_t>(kRunMarkerText.size()))
            code = put < 0 ? errno : ENOSPC;
    }
    if (code != 0) {
        *error = folder + ": cannot set up a folder for the run in the temporary folder (" + std::strerror(code) + ")";
        std::error_code ignored;
        std::filesystem::remove_all(pattern, ignored);
        lock_.Reset();
        path_.clear();
        return false;
    }
    return true;
}

void RunFolder::Keep()
{
    keep_ = true;
    if (!path_.empty()) {
        const FileDescriptor marker(
            ::open((path_ + kKeptMarker).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
        (void)marker;
    }
}

PreparedProduction PrepareProduction(const ProductionRequest& request)
{
    PreparedProduction prepared;
    auto fail = [&prepared](std::string message) {
        prepared.error = std::move(message);
        return std::move(prepared);
    };
    const Settings defaults;
    const Settings& settings = request.settings ? *request.settings : defaults;
    if (!request.project)
        return fail("There is no project to make a disc of.");
    if (!request.menu)
        return fail("There is no disc menu to make a disc with.");

    // The menu: its template must make pages, its files must be there.
    const DiscMenuState& menu = *request.menu;
    ProductionPlan& plan = prepared.parameters.plan;
    std::string error;
    if (!SetMenuFromState(menu, plan, &error))
        return fail(error);
    // The template file is read afresh: it may have changed since it was chosen, and the
    // run refuses a template whose entries differ from the pages the menu was laid out in.
    if (plan.menuTemplate.itemsCount < 1 || plan.EntriesPerPage() < 1)
        return fail(plan.menuTemplate.path + ": the template has no menu entries (\"Items_count\" is " +
                    std::to_string(plan.menuTemplate.itemsCount) + ")");
    if (plan.EntriesPerPage() != plan.menuTemplate.itemsCount)
        return fail(plan.menuTemplate.path + ": the template now shows " +
                    std::to_string(plan.menuTemplate.itemsCount) + " entries per page, not " +
                    std::to_string(plan.EntriesPerPage()) + "; choose it again");
    if (!plan.backgroundOverride.empty() && !FileProblem(plan.backgroundOverride).empty())
        return fail(plan.backgroundOverride + ": the background picture " + FileProblem(plan.backgroundOverride));
    if (!plan.musicPath.empty() && !FileProblem(plan.musicPath).empty())
        return fail(plan.musicPath + ": the music file " + FileProblem(plan.musicPath));

    // The output: its folder must exist and take files before hours of encoding begin.
    if (!request.outputPath.empty()) {
        std::filesystem::path folder = std::filesystem::path(request.outputPath).parent_path();
        if (folder.empty())
            folder = ".";
        std::error_code ec;
        if (!std::filesystem::is_directory(folder, ec))
            return fail(request.outputPath + ": the folder " + folder.string() + " does not exist");
        if (::access(folder.c_str(), W_OK) != 0)
            return fail(request.outputPath + ": the folder " + folder.string() + " cannot be written (" +
                        std::strerror(errno) + ")");
    }

    // The albums, taken now on the project's own thread.
    const ProductionPlan albums = MakeProductionPlan(*request.project, request.albumCount);
    plan.albums = albums.albums;
    plan.missingPictures = albums.missingPictures;
    plan.norm = request.norm.value_or(TvNormFromSetting(settings.pal));
    plan.slideGeometry = settings.SquarePixelSlides() ? SlideGeometry::SquarePixels : SlideGeometry::TvAspect;
    const std::string projectLabel = LabelFromProject(request.projectPath);
    prepared.label = request.label ? MapVolumeLabel(*request.label, projectLabel) : VolumeLabel{projectLabel, false};
    plan.cdLabel = prepared.label.text;
    SlideshowTrackMode fromSettings = SlideshowTrackMode::Auto;
    ParseSlideshowTrackMode(settings.slideshowTrack, fromSettings);
    plan.slideshowTrack = request.slideshowTrack.value_or(fromSettings);

    // The run's own folder.
    auto runFolder = std::make_shared<RunFolder>();
    const std::string base = request.tempFolder.empty() ? settings.tempDir : request.tempFolder;
    if (base.empty())
        return fail("No temporary folder is set (\"TempDir\" in config.ini).");
    if (!runFolder->Create(base, &error))
        return fail(error);
    if (request.keepRunFolder)
        runFolder->Keep();

    ProductionParameters& parameters = prepared.parameters;
    parameters.tempFolder = runFolder->Path();
    parameters.programFolder = request.programFolder.empty() ? ProgramFolder() : request.programFolder;
    parameters.jobs = request.jobs;
    prepared.runFolder = std::move(runFolder);
    return prepared;
}

} // namespace lumivox
