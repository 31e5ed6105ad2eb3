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
#include <unistd.h>

namespace lumivox {

namespace {

constexpr std::size_t kVolumeLabelBytes = 32;

bool IsRegularFile(const std::string& path)
{
    std::error_code ec;
    return std::filesystem::is_regular_file(path, ec);
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

bool RunFolder::Create(const std::string& base, std::string* error)
{
    const std::string folder = WithTrailingSlash(base);
    if (!CreateFolder(folder)) {
        *error = folder + ": the temporary folder cannot be created";
        return false;
    }
    std::string pattern = folder + "make-XXXXXX";
    if (!::mkdtemp(pattern.data())) {
        *error = folder + ": cannot create a folder for the run in the temporary folder (" + std::strerror(errno) + ")";
        return false;
    }
    path_ = pattern + "/";
    return true;
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
    if (!plan.backgroundOverride.empty() && !IsRegularFile(plan.backgroundOverride))
        return fail(plan.backgroundOverride + ": the background picture does not exist");
    if (!plan.musicPath.empty() && !IsRegularFile(plan.musicPath))
        return fail(plan.musicPath + ": the music file does not exist");

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
