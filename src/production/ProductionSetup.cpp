// SPDX-License-Identifier: GPL-2.0-or-later
#include "production/ProductionSetup.h"

#include "base/Paths.h"
#include "picture/MenuTemplate.h"
#include "project/AlbumTable.h"
#include "project/Settings.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lumivox {

namespace {

constexpr std::size_t kVolumeLabelBytes = 32;

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
    std::string label;
    for (char c : std::filesystem::path(projectPath).stem().string()) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (std::isalnum(u) && u < 0x80)
            label += static_cast<char>(std::toupper(u));
        else if (!label.empty() && label.back() != '_')
            label += '_';
    }
    while (!label.empty() && label.back() == '_')
        label.pop_back();
    if (label.size() > kVolumeLabelBytes)
        label.resize(kVolumeLabelBytes);
    return label.empty() ? kDefaultCdLabel : label;
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

// Removes the run folders of dead runs in folder: ours, not locked by a living run, not
// kept. Called with the temporary folder locked, so a run that is just creating its own
// folder is never taken for a dead one.
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
    lock_.Reset(::open(pattern.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (lock_)
        (void)::flock(lock_.Get(), LOCK_EX | LOCK_NB);
    path_ = pattern + "/";
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
    plan.norm = request.norm.value_or(TvNormFromSetting(settings.pal));
    plan.slideGeometry = settings.SquarePixelSlides() ? SlideGeometry::SquarePixels : SlideGeometry::TvAspect;
    plan.cdLabel = request.label.value_or(LabelFromProject(request.projectPath));
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
