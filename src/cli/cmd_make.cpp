// lumivox-cli make: the whole production run from a project file to a Video CD image
// (BIN/CUE pair) — menu music, menu pages, slides, authoring — with progress on the
// terminal and a clean stop on Ctrl-C.

#include "CliSupport.h"
#include "Command.h"

#include "base/Event.h"
#include "base/Paths.h"
#include "base/TextUtil.h"
#include "picture/MenuTemplate.h"
#include "picture/QtGuiHost.h"
#include "production/ProductionJob.h"
#include "project/AlbumTable.h"
#include "project/Settings.h"
#include "vcd/BinCueSink.h"

#include <atomic>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <pthread.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace lumivox::cli {

namespace {

constexpr const char* kMakeName = "lumivox-cli make";
// Exit statuses: 0 the image is complete; 1 the run failed; 2 the command line is wrong;
// 130 the run was cancelled (Ctrl-C or SIGTERM).
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitCancelled = 130;
constexpr const char* kDefaultLabel = "LUMIVOX";
constexpr std::size_t kVolumeLabelBytes = 32;
constexpr double kDiscMinutes = 80.0;
constexpr int kSectorsPerSecond = 75;

// One line for the user: the run's texts may carry a fixed text and its detail on two lines.
std::string OneLine(std::string text)
{
    while (!text.empty() && text.back() == '\n')
        text.pop_back();
    for (char& c : text)
        if (c == '\n')
            c = ' ';
    return text;
}

int Fail(const std::string& message, int status = kExitFailed)
{
    std::fprintf(stderr, "%s: %s\n", kMakeName, OneLine(message).c_str());
    return status;
}

// The volume label made from the project's file name: upper case, the characters an ISO
// 9660 volume identifier allows (A-Z, 0-9, "_"), at most 32.
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
    return label.empty() ? kDefaultLabel : label;
}

// The BIN and CUE names for -o: "DISC.cue" or "DISC.bin" give DISC.bin + DISC.cue; any
// other name gets both extensions added.
std::string BinPathFor(const std::string& output)
{
    const std::filesystem::path path(output);
    const std::string extension = ToLowerAscii(path.extension().string());
    if (extension == ".cue" || extension == ".bin")
        return path.parent_path().empty() ? path.stem().string() + ".bin"
                                          : (path.parent_path() / path.stem()).string() + ".bin";
    return output + ".bin";
}

// A per-run folder below the temporary folder, so that two runs never share files;
// removed at the end unless it is to be kept.
class RunFolder {
public:
    bool Create(const std::string& base, std::string* error)
    {
        const std::string folder = WithTrailingSlash(base);
        if (!CreateFolder(folder)) {
            *error = folder + ": the temporary folder cannot be created";
            return false;
        }
        std::string pattern = folder + "make-XXXXXX";
        if (!::mkdtemp(pattern.data())) {
            *error = folder + ": cannot create a folder for the run in the temporary folder (" +
                     std::strerror(errno) + ")";
            return false;
        }
        path_ = pattern + "/";
        return true;
    }
    void Keep() { keep_ = true; }
    ~RunFolder()
    {
        if (!path_.empty() && !keep_) {
            std::error_code ignored;
            std::filesystem::remove_all(path_, ignored);
        }
    }
    const std::string& Path() const { return path_; }

private:
    std::string path_;
    bool keep_ = false;
};

// Ctrl-C and SIGTERM set the cancel event. The signals are blocked in every thread (they
// are blocked before the first thread starts) and taken by one watcher thread, so the
// event is never touched from a signal handler.
class SignalWatcher {
public:
    explicit SignalWatcher(ManualResetEvent& cancel) : cancel_(cancel)
    {
        sigemptyset(&signals_);
        sigaddset(&signals_, SIGINT);
        sigaddset(&signals_, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &signals_, &previous_);
        thread_ = std::thread([this] { Watch(); });
    }
    ~SignalWatcher()
    {
        done_ = true;
        thread_.join();
    }
    int Signal() const { return signal_.load(); }

private:
    void Watch()
    {
        const timespec step{0, 100'000'000};
        while (!done_) {
            const int taken = sigtimedwait(&signals_, nullptr, &step);
            if (taken == SIGINT || taken == SIGTERM) {
                if (signal_.exchange(taken) == 0)
                    std::fprintf(stderr, "\n%s: cancelling...\n", kMakeName);
                cancel_.Set();
            }
        }
    }

    ManualResetEvent& cancel_;
    sigset_t signals_{};
    sigset_t previous_{};
    std::atomic<bool> done_{false};
    std::atomic<int> signal_{0};
    std::thread thread_;
};

// Progress on standard error: a redrawn bar on a terminal, plain lines otherwise.
class ProgressPrinter final : public ProductionObserver {
public:
    ProgressPrinter(bool terminal, bool quiet, bool hasMusic) : terminal_(terminal), quiet_(quiet), hasMusic_(hasMusic) {}

    void OnProgress(const ProgressEvent& event) override
    {
        const std::int64_t first = event.done;
        const std::int64_t second = event.total;
        switch (event.message) {
        case UM_MENU_ENCODE_BEGIN:
            Show(hasMusic_ ? "Menu music" : "Menu pages", -1, 0, 0, true);
            break;
        case UM_MENU_PAGE_PROGRESS:
            Show("Menu pages", static_cast<int>(first * 1000 / std::max<std::int64_t>(second, 1)), first, second, true);
            break;
        case UM_MENU_ENCODE_END:
            break;
        case UM_SLIDE_PROGRESS:
            // Posted before each slide: the count is the slide under way, counted from 1.
            Show("Slides", ProgressTenths(first, second), first + 1, second, true);
            break;
        case UM_AUTHORING_BEGIN:
            Show("Authoring", -1, 0, 0, true);
            break;
        case UM_WRITE_PROGRESS: {
            const int tenths = std::min(1000, static_cast<int>(first * 1000 / std::max<std::int64_t>(second, 1)));
            // Plain output: one line per tenth of the image.
            const bool line = tenths / 100 != lastWriteStep_ || tenths == 1000;
            if (line)
                lastWriteStep_ = tenths / 100;
            Show("Writing image", tenths, first, second, line && first != lastWritten_);
            lastWritten_ = first;
            break;
        }
        default:
            break;
        }
    }

    void OnWarning(const std::string& text) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ClearBar();
        std::fprintf(stderr, "%s: warning: %s\n", kMakeName, OneLine(text).c_str());
        Redraw();
    }

    void OnFinished(const ProductionResult&) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ClearBar();
        current_.clear();
    }

private:
    void Show(const std::string& stage, int tenths, std::int64_t done, std::int64_t total, bool plainLine)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        current_ = stage;
        tenths_ = tenths;
        done_ = done;
        total_ = total;
        if (quiet_)
            return;
        if (terminal_) {
            const auto now = std::chrono::steady_clock::now();
            if (stage == drawnStage_ && tenths != 1000 && now - lastDraw_ < std::chrono::milliseconds(100))
                return;
            lastDraw_ = now;
            drawnStage_ = stage;
            Redraw();
        } else if (plainLine) {
            std::fprintf(stderr, "%s\n", Describe().c_str());
            std::fflush(stderr);
        }
    }

    std::string Describe() const
    {
        std::string text = current_;
        if (tenths_ >= 0)
            text += Format(": %d.%d%%", tenths_ / 10, tenths_ % 10);
        if (total_ > 0)
            text += Format(" (%lld of %lld%s)", static_cast<long long>(done_), static_cast<long long>(total_),
                           current_ == "Writing image" ? " sectors" : "");
        return text;
    }

    void Redraw()
    {
        if (!terminal_ || quiet_ || current_.empty())
            return;
        constexpr int kBarWidth = 30;
        const int filled = tenths_ < 0 ? 0 : std::clamp(tenths_ * kBarWidth / 1000, 0, kBarWidth);
        std::string bar(static_cast<std::size_t>(filled), '#');
        bar.append(static_cast<std::size_t>(kBarWidth - filled), tenths_ < 0 ? ' ' : '.');
        std::string text = Format("\r\033[K%-14s [%s]", current_.c_str(), bar.c_str());
        if (tenths_ >= 0)
            text += Format(" %5.1f%%", tenths_ / 10.0);
        if (total_ > 0)
            text += Format("  %lld/%lld", static_cast<long long>(done_), static_cast<long long>(total_));
        std::fputs(text.c_str(), stderr);
        std::fflush(stderr);
        barShown_ = true;
    }

    void ClearBar()
    {
        if (barShown_) {
            std::fputs("\r\033[K", stderr);
            barShown_ = false;
        }
    }

    const bool terminal_;
    const bool quiet_;
    const bool hasMusic_;
    std::mutex mutex_;
    std::string current_;
    std::string drawnStage_;
    int tenths_ = -1;
    std::int64_t done_ = 0;
    std::int64_t total_ = 0;
    int lastWriteStep_ = -1;
    std::int64_t lastWritten_ = -1;
    bool barShown_ = false;
    std::chrono::steady_clock::time_point lastDraw_{};
};

struct MakeOptions {
    std::string project;
    std::string output;
    std::string templateValue;
    std::string background;
    std::string music;
    std::string label;
    bool labelGiven = false;
    std::string temp;
    int norm = -1;
    int jobs = 0;
    bool keepTemp = false;
    bool quiet = false;
};

// Parses the arguments; returns -1 when they are usable, else the exit status.
int ParseArguments(const std::vector<std::string>& args, MakeOptions& options)
{
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&](std::string& into) {
            if (i + 1 >= args.size())
                return false;
            into = args[++i];
            return true;
        };
        if (arg == "-o" || arg == "--output") {
            if (!value(options.output))
                return Fail(arg + " needs the name of the CUE file to make", kExitUsage);
        } else if (arg == "--template") {
            if (!value(options.templateValue))
                return Fail("--template needs a template name or file", kExitUsage);
        } else if (arg == "--background") {
            if (!value(options.background))
                return Fail("--background needs a picture file", kExitUsage);
        } else if (arg == "--music") {
            if (!value(options.music))
                return Fail("--music needs an MP3 or WAVE file", kExitUsage);
        } else if (arg == "--label") {
            if (!value(options.label))
                return Fail("--label needs a text", kExitUsage);
            options.labelGiven = true;
        } else if (arg == "--temp") {
            if (!value(options.temp) || options.temp.empty())
                return Fail("--temp needs a folder", kExitUsage);
        } else if (arg == "--jobs" || arg == "-j") {
            std::string text;
            if (!value(text))
                return Fail(arg + " needs a number of workers", kExitUsage);
            char* end = nullptr;
            const long jobs = std::strtol(text.c_str(), &end, 10);
            if (text.empty() || *end != '\0' || jobs < 1 || jobs > kMaxWorkers)
                return Fail(Format("%s: '%s' is not a number of workers from 1 to %d", arg.c_str(), text.c_str(),
                                   kMaxWorkers),
                            kExitUsage);
            options.jobs = static_cast<int>(jobs);
        } else if (arg == "--pal") {
            options.norm = 1;
        } else if (arg == "--ntsc") {
            options.norm = 0;
        } else if (arg == "--keep-temp") {
            options.keepTemp = true;
        } else if (arg == "--quiet" || arg == "-q") {
            options.quiet = true;
        } else if (!arg.empty() && arg[0] == '-') {
            return Fail("unknown option '" + arg + "' (see lumivox-cli help make)", kExitUsage);
        } else if (options.project.empty()) {
            options.project = arg;
        } else {
            return Fail("more than one project given ('" + options.project + "', '" + arg + "')", kExitUsage);
        }
    }
    if (options.project.empty())
        return Fail("no project file given (see lumivox-cli help make)", kExitUsage);
    if (options.output.empty())
        return Fail("no image given: use -o DISC.cue", kExitUsage);
    return -1;
}

std::string Duration(double seconds)
{
    if (seconds < 60)
        return Format("%.1f s", seconds);
    const long whole = static_cast<long>(seconds + 0.5);
    return Format("%ld min %02ld s", whole / 60, whole % 60);
}

int RunMake(const std::vector<std::string>& args)
{
    const auto started = std::chrono::steady_clock::now();
    MakeOptions options;
    if (const int status = ParseArguments(args, options); status >= 0)
        return status;

    // Signals first: every thread started from here on keeps them blocked.
    ManualResetEvent cancel;
    SignalWatcher signalWatcher(cancel);

    Settings settings;
    settings.Load(SettingsLocations::ForThisProgram());
    const TvNorm norm = (options.norm < 0 ? settings.IsPal() : options.norm == 1) ? TvNorm::Pal : TvNorm::Ntsc;

    EnsureGuiApplication(GuiPlatform::Offscreen);

    // The menu.
    DiscMenuState state(ProgramFolder());
    std::string error;
    if (!options.templateValue.empty()) {
        if (!ChooseTemplate(state, options.templateValue, &error))
            return Fail(error);
    } else if (state.EntriesPerPage() < 1) {
        MenuTemplate current;
        if (!state.LoadCurrentTemplate(current, &error))
            return Fail(error);
        return Fail(current.path + ": the template has no menu entries (\"Items_count\" is " +
                    std::to_string(current.itemsCount) + ")");
    }
    if (!options.background.empty()) {
        if (!std::filesystem::is_regular_file(options.background))
            return Fail(options.background + ": the background picture does not exist");
        state.SetBackgroundOverride(options.background);
    }
    if (!options.music.empty()) {
        if (!std::filesystem::is_regular_file(options.music))
            return Fail(options.music + ": the music file does not exist");
        state.SetBackgroundMusic(options.music);
    }

    // The output: its folder must exist before hours of encoding begin.
    const std::string binPath = BinPathFor(options.output);
    BinCueSink sink(binPath);
    {
        std::filesystem::path folder = std::filesystem::path(binPath).parent_path();
        if (folder.empty())
            folder = ".";
        std::error_code ec;
        if (!std::filesystem::is_directory(folder, ec))
            return Fail(sink.CuePath() + ": the folder " + folder.string() + " does not exist");
        if (::access(folder.c_str(), W_OK) != 0)
            return Fail(sink.CuePath() + ": the folder " + folder.string() + " cannot be written (" +
                        std::strerror(errno) + ")");
    }

    // The project.
    AlbumTable project;
    const ProjectLoadResult loaded = project.LoadProject(options.project);
    if (!loaded.Loaded())
        return Fail(loaded.error.empty() ? options.project + ": not a Lumivox project file" : loaded.error);
    for (const SkippedPicture& skipped : loaded.skipped)
        std::fprintf(stderr, "%s: warning: %s: %s (left out of album %02d \"%s\")\n", kMakeName, skipped.path.c_str(),
                     OneLine(skipped.reason).c_str(), skipped.album, skipped.albumName.c_str());
    if (loaded.albumsBeyondLimit > 0)
        std::fprintf(stderr, "%s: warning: %s: %d albums beyond the %d a disc can hold are left out\n", kMakeName,
                     options.project.c_str(), loaded.albumsBeyondLimit, MAX_ALBUMS);

    RunFolder runFolder;
    if (!runFolder.Create(options.temp.empty() ? settings.tempDir : options.temp, &error))
        return Fail(error);
    if (options.keepTemp)
        runFolder.Keep();

    ProductionParameters parameters;
    if (!SetMenuFromState(state, parameters, &error))
        return Fail(error);
    parameters.project = &project;
    parameters.tempFolder = runFolder.Path();
    parameters.programFolder = ProgramFolder();
    parameters.norm = norm;
    parameters.slideGeometry = settings.SquarePixelSlides() ? SlideGeometry::SquarePixels : SlideGeometry::TvAspect;
    parameters.cdLabel = options.labelGiven ? options.label : LabelFromProject(options.project);
    parameters.jobs = options.jobs;
    parameters.sink = &sink;
    parameters.writeReporting = WriteReporting::ByRun;
    parameters.cancel = &cancel;

    ProgressPrinter printer(::isatty(STDERR_FILENO) == 1, options.quiet, !options.music.empty());
    ProductionJob job(std::move(parameters));
    const ProductionResult result = job.Run(&printer);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    if (result.status == ProductionStatus::Cancelled) {
        std::fprintf(stderr, "%s: cancelled; no image was made (%s)\n", kMakeName, sink.CuePath().c_str());
        return kExitCancelled;
    }
    if (!result.Finished())
        return Fail(result.message);

    const double discSeconds = static_cast<double>(result.totalSectors) / kSectorsPerSecond;
    std::printf("Video CD image written: %s (%s)\n", sink.CuePath().c_str(), sink.BinPath().c_str());
    std::printf("  %s, %d album%s, %d picture%s, %d menu page%s\n", norm == TvNorm::Pal ? "PAL" : "NTSC",
                result.albums, result.albums == 1 ? "" : "s", result.pictures, result.pictures == 1 ? "" : "s",
                result.menuPages, result.menuPages == 1 ? "" : "s");
    std::printf("  %d sectors, %.2f of %.0f minutes of disc used (%.1f%%)\n", result.totalSectors, discSeconds / 60,
                kDiscMinutes, discSeconds / 60 / kDiscMinutes * 100);
    if (!result.unreadablePictures.empty())
        std::printf("  %zu picture%s could not be decoded and went on the disc as black frames\n",
                    result.unreadablePictures.size(), result.unreadablePictures.size() == 1 ? "" : "s");
    std::printf("  time taken: %s (%d worker%s)\n", Duration(seconds).c_str(), result.workers,
                result.workers == 1 ? "" : "s");
    if (options.keepTemp)
        std::printf("  files of the run kept in %s\n", runFolder.Path().c_str());
    return 0;
}

const CommandRegistration registration({
    "make",
    "PROJECT.lvx -o DISC.cue [--template NAME|FILE] [--background FILE] [--music FILE] "
    "[--pal|--ntsc] [--label TEXT] [--jobs N] [--temp DIR] [--keep-temp] [--quiet]",
    "Makes the Video CD of a project as a disc image: every menu page and every picture is\n"
    "rendered, encoded as an MPEG-1 still and multiplexed into a still segment, then the\n"
    "Video CD 2.0 image (ISO 9660 / CD-XA file system, control files, segments and the\n"
    "MPEG track) is written as DISC.bin beside DISC.cue. The image appears under its name\n"
    "only when it is complete.\n"
    "\n"
    "Options:\n"
    "  -o, --output DISC.cue  the CUE sheet to make; the BIN file goes beside it with the\n"
    "                         extension .bin (DISC.bin names the same pair)\n"
    "  --template NAME|FILE   the disc-menu template: an installed template (\"classic.ini\"\n"
    "                         or \"classic\"; see lumivox-cli templates) or a template file\n"
    "                         anywhere. Default: classic.ini\n"
    "  --background FILE      a picture that replaces the template's menu background\n"
    "  --music FILE           menu music, an MP3 or WAVE file (played under every menu page)\n"
    "  --pal, --ntsc          the TV norm; default: the PAL setting of config.ini (NTSC)\n"
    "  --label TEXT           the CD label (volume identifier: 32 characters are used);\n"
    "                         default: the project's file name in capitals, or LUMIVOX\n"
    "  --jobs N, -j N         pictures encoded at once, 1 to 64; default: one per processor\n"
    "                         (at most 8). The image is the same for every N\n"
    "  --temp DIR             folder for the files of the run; default: TempDir of\n"
    "                         config.ini. Each run works in a folder of its own below it\n"
    "                         (make-XXXXXX), removed at the end\n"
    "  --keep-temp            keep the run's folder (segments, stills, music) and print it\n"
    "  --quiet, -q            no progress, only warnings, errors and the summary\n"
    "\n"
    "Progress goes to standard error: a bar with the stage and its percentage on a\n"
    "terminal, one line per step otherwise. A picture that can no longer be decoded goes\n"
    "on the disc as a black frame and is named in a warning. Ctrl-C cancels: the run stops\n"
    "within one picture or one buffer of the image, and no image is left behind.\n"
    "\n"
    "Exit status: 0 when the image is complete, 1 when the run failed (one line on\n"
    "standard error names the file and the reason), 2 for a wrong command line, 130 when\n"
    "cancelled.",
    RunMake,
});

} // namespace

} // namespace lumivox::cli
