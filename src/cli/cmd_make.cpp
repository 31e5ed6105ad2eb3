// SPDX-License-Identifier: GPL-2.0-or-later
// lumivox-cli make: the whole production run from a project file to a Video CD image
// (BIN/CUE pair) — menu music, menu pages, slides, authoring — with progress on the
// terminal and a clean stop on Ctrl-C.

#include "CliSupport.h"
#include "Command.h"
#include "Options.h"

#include "base/Event.h"
#include "base/Paths.h"
#include "base/SafeOutput.h"
#include "base/TextUtil.h"
#include "picture/MenuTemplate.h"
#include "picture/QtGuiHost.h"
#include "base/Parallel.h"
#include "production/ProductionJob.h"
#include "production/ProductionSetup.h"

#include <optional>
#include "project/AlbumTable.h"
#include "project/Settings.h"
#include "RecorderCli.h"
#include "recorder/RecorderFeed.h"
#include "recorder/TeeSink.h"
#include "vcd/BinCueSink.h"

#include <atomic>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <sys/stat.h>
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
constexpr double kDiscMinutes = 80.0;
constexpr int kSectorsPerSecond = 75;

int Fail(const std::string& message, int status = kExitFailed)
{
    std::fprintf(stderr, "%s: %s\n", kMakeName, OneLine(message).c_str());
    return status;
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

// Progress on standard error: a redrawn bar on a terminal, plain lines otherwise.
class ProgressPrinter final : public ProductionObserver {
public:
    ProgressPrinter(bool terminal, bool quiet) : terminal_(terminal), quiet_(quiet) { }

    void OnProgress(const ProgressEvent& event) override
    {
        switch (event.stage) {
        case ProgressStage::MenuMusic:
            Show("Menu music", -1, 0, 0, true);
            break;
        case ProgressStage::MenuPages:
            if (event.message == UM_MENU_ENCODE_BEGIN)
                Show("Menu pages", -1, 0, 0, true);
            else if (event.message == UM_MENU_PAGE_PROGRESS)
                Show("Menu pages", event.Tenths(), event.done, event.total, true);
            break;
        case ProgressStage::Slides:
            // Reported before each slide: the count is the slide under way, from 1.
            Show("Slides", event.Tenths(), event.done + 1, event.total, true);
            break;
        case ProgressStage::Authoring:
            Show("Authoring", -1, 0, 0, true);
            break;
        case ProgressStage::Writing: {
            // What has been written, not the dialog's rounding up: 0 of N is 0.0 %.
            const int tenths = static_cast<int>(
                std::min<std::int64_t>(1000, event.done * 1000 / std::max<std::int64_t>(event.total, 1)));
            // Plain output: one line per tenth of the image.
            const bool line = tenths / 100 != lastWriteStep_ || tenths == 1000;
            if (line)
                lastWriteStep_ = tenths / 100;
            Show("Writing image", tenths, event.done, event.total, line && event.done != lastWritten_);
            lastWritten_ = event.done;
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
    std::vector<std::string> inputs; // one project file, or folders
    std::string output;
    SharedOptions shared; // --template, --pal/--ntsc, --quiet
    std::optional<std::string> background; // replaces the project's; "" for none
    std::optional<std::string> music;
    std::string label;
    bool labelGiven = false;
    std::string temp;
    std::optional<SlideshowTrackMode> slideshowTrack;
    int jobs = 0;
    bool keepTemp = false;
    bool burn = false; // --burn DEVICE given
    BurnOptions burnOptions; // the device and the options of the burn
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
        std::string sharedError;
        if (TakeSharedOption(args, &i, kNormOption | kTemplateOption | kQuietOption | kJsonOption, &options.shared,
                             &sharedError)) {
            if (!sharedError.empty())
                return Fail(sharedError, kExitUsage);
            continue;
        }
        std::string burnError;
        if (TakeBurnOption(args, &i, &options.burnOptions, &burnError)) {
            if (!burnError.empty())
                return Fail(burnError, kExitUsage);
            continue;
        }
        if (arg == "--burn") {
            if (!value(options.burnOptions.device) || options.burnOptions.device.empty())
                return Fail("--burn needs the recorder's device (/dev/sr0, or emulated:FOLDER)", kExitUsage);
            options.burn = true;
        } else if (arg == "-o" || arg == "--output") {
            if (!value(options.output))
                return Fail(arg + " needs the name of the CUE file to make", kExitUsage);
        } else if (arg == "--background") {
            if (!value(options.background.emplace()))
                return Fail("--background needs a picture file", kExitUsage);
        } else if (arg == "--music") {
            if (!value(options.music.emplace()))
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
                return Fail(
                    Format("%s: '%s' is not a number of workers from 1 to %d", arg.c_str(), text.c_str(), kMaxWorkers),
                    kExitUsage);
            options.jobs = static_cast<int>(jobs);
        } else if (arg == "--slideshow-track") {
            std::string text;
            SlideshowTrackMode mode;
            if (!value(text) || !ParseSlideshowTrackMode(text, mode))
                return Fail("--slideshow-track needs auto, always or never", kExitUsage);
            options.slideshowTrack = mode;
        } else if (arg == "--keep-temp") {
            options.keepTemp = true;
        } else if (!arg.empty() && arg[0] == '-') {
            return Fail("unknown option '" + arg + "' (see lumivox-cli help make)", kExitUsage);
        } else {
            options.inputs.push_back(arg);
        }
    }
    if (options.inputs.empty())
        return Fail("no project file or folder given (see lumivox-cli help make)", kExitUsage);
    if (options.output.empty() && !options.burn)
        return Fail("no image given: use -o DISC.cue, or --burn DEVICE", kExitUsage);
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
    // A device, a FIFO or a socket named as the image is refused before anything is made:
    // the .bin and .cue beside it would otherwise be written next to it (into /dev). A
    // folder is told as a wrong command line further on.
    if (struct stat target { }; !options.output.empty() && ::stat(options.output.c_str(), &target) == 0 &&
                                !S_ISDIR(target.st_mode)) {
        std::string refusal;
        if (!CheckOutputTarget(options.output, &refusal)) {
            std::fprintf(stderr, "%s: %s\n", kMakeName, refusal.c_str());
            return kExitFailed;
        }
    }

    // Signals first: every thread started from here on keeps them blocked.
    ManualResetEvent cancel;
    ManualResetEvent leaveNow; // a second signal, while a burn finishes its disc
    SignalWatcher signalWatcher(cancel, kMakeName, options.burn ? &leaveNow : nullptr);
    options.burnOptions.leaveNow = &leaveNow;
    if (options.jobs > 0)
        SetWorkerBudget(options.jobs);

    Settings settings;
    settings.Load(SettingsLocations::ForThisProgram());
    StartOffscreenGraphics();

    // The albums.
    AlbumTable project;
    ProjectInput input;
    std::string error;
    if (!LoadProjectInput(options.inputs, kMakeName, project, input, &error))
        return Fail(error);

    // The menu: the project's design, as the desktop program burns it, unless the command
    // line gives a part of it.
    DiscMenuState state(ProgramFolder());
    if (!SetUpDiscMenu(state, input.design, {options.shared.templateValue, options.background, options.music},
                       kMakeName, &error))
        return Fail(error);

    // The image file, the recorder, or both from one run.
    std::unique_ptr<BinCueSink> fileSink;
    if (!options.output.empty()) {
        if (options.output.back() == '/')
            return Fail(options.output + ": names a folder; give the CUE file to make (FOLDER/DISC.cue)", kExitUsage);
        fileSink = std::make_unique<BinCueSink>(BinPathFor(options.output));
        // The image is renamed over its names only at the end; one of the run's own
        // files under such a name would be lost then, after everything was made from it.
        std::vector<std::string> inputs = {input.projectPath, state.BackgroundOverride(), state.BackgroundMusic(),
                                           state.CurrentTemplatePath()};
        for (int album = 0; album < project.AlbumCount(); ++album)
            for (int position = 0; position < project.PictureCount(album); ++position)
                inputs.push_back(project.Picture(album, position).path);
        for (const std::string& used : inputs)
            for (const std::string& written : {fileSink->BinPath(), fileSink->CuePath()})
                if (!used.empty() && IsSameFile(used, written))
                    return Fail(written + ": is one of the run's own input files; choose another output");
        // Another run writing the same image, or a folder that takes no file, is told
        // now rather than after everything was made.
        if (fileSink->Reserve() != 0)
            return Fail(fileSink->ErrorText());
    }
    ProductionRequest request;
    request.project = &project;
    request.projectPath = input.projectPath.empty() ? input.folders.front() : input.projectPath;
    request.menu = &state;
    if (options.shared.norm >= 0)
        request.norm = TvNormFromSetting(options.shared.norm);
    if (options.labelGiven)
        request.label = options.label;
    request.slideshowTrack = options.slideshowTrack;
    request.tempFolder = options.temp;
    if (fileSink)
        request.outputPath = fileSink->CuePath();
    request.jobs = options.jobs;
    request.keepRunFolder = options.keepTemp;
    request.settings = &settings;
    PreparedProduction prepared = PrepareProduction(request);
    if (!prepared.Ok())
        return Fail(prepared.error);
    if (options.labelGiven && prepared.label.changed)
        std::fprintf(stderr, "%s: %s\n", kMakeName,
                     OneLine("the label " + JsonQuote(options.label) + " is written as \"" + prepared.label.text + "\"")
                         .c_str());
    const TvNorm norm = prepared.parameters.plan.norm;
    ProductionParameters parameters = std::move(prepared.parameters);

    // The recorder is checked (drive, driver, blank disc) before any frame is made; its
    // burn thread then reports what reaches the disc.
    BurnProgressPrinter burnPrinter(options.shared.quiet);
    std::unique_ptr<RecorderSink> feed;
    std::unique_ptr<TeeSink> both;
    if (options.burn) {
        feed = OpenRecorderFeed(options.burnOptions, -1, &burnPrinter, &cancel, &error);
        if (!feed)
            return Fail(error);
    }
    if (feed && fileSink)
        both = std::make_unique<TeeSink>(*feed, *fileSink);
    parameters.sink = both   ? static_cast<ImageSink*>(both.get())
                      : feed ? static_cast<ImageSink*>(feed.get())
                             : static_cast<ImageSink*>(fileSink.get());
    parameters.writeReporting = feed ? WriteReporting::BySink : WriteReporting::ByRun;
    parameters.cancel = &cancel;

    ProgressPrinter printer(::isatty(STDERR_FILENO) == 1, options.shared.quiet);
    ProductionJob job(std::move(parameters));
    const ProductionResult result = job.Run(&printer);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    if (feed) {
        // The burn's own end: written (and verified), failed with the drive's word, or
        // cancelled; a run that failed before the disc was touched says why itself.
        const BurnResult& burn = feed->Result();
        const bool cancelled = signalWatcher.Signalled() || result.status == ProductionStatus::Cancelled;
        // A burn that failed at its end (its verification) leaves the image complete: it
        // is kept, and told; one that failed midway leaves none, and that is told too.
        auto keepImage = [&] {
            if (!fileSink || cancelled)
                return;
            if (fileSink->CloseSink() == 0)
                std::printf("Video CD image written: %s (%s), though the burn failed\n", fileSink->CuePath().c_str(),
                            fileSink->BinPath().c_str());
            else
                std::fprintf(stderr, "%s: no image was made (%s): %s\n", kMakeName, fileSink->CuePath().c_str(),
                             OneLine(fileSink->ErrorText()).c_str());
        };
        if (!result.Finished() && !cancelled && burn.text.empty()) {
            const int status = Fail(result.message);
            keepImage();
            return status;
        }
        // With -o as well, the disc and the image each have their outcome, and both are
        // told: a disc burnt while the image could not be written is still a disc.
        const bool burnt = fileSink && !cancelled && burn.Succeeded();
        const int status = ReportBurn(
            kMakeName, options.burnOptions.device, options.burnOptions, burn, result.Finished() || burnt,
            result.Finished() || !burn.text.empty() ? std::string() : result.message, cancelled, options.shared.json);
        if (status == 0 && !result.Finished() && fileSink)
            return Fail("the disc was written, but the image " + fileSink->CuePath() + " was not: " + result.message);
        if (status != 0) {
            keepImage();
            return status;
        }
    }
    if (result.status == ProductionStatus::Cancelled) {
        std::fprintf(stderr, "%s: cancelled; no image was made%s\n", kMakeName,
                     fileSink ? (" (" + fileSink->CuePath() + ")").c_str() : "");
        return kExitCancelled;
    }
    if (!result.Finished())
        return Fail(result.message);
    const double discSeconds = static_cast<double>(result.totalSectors) / kSectorsPerSecond;
    // Format writes numbers the same way under every locale: the JSON stays JSON.
    auto plural = [](long long count, const char* word) {
        return Format("%lld %s%s", count, word, count == 1 ? "" : "s");
    };
    if (options.shared.json) {
        std::fputs(
            Format("{\"cue\": %s, \"bin\": %s, \"norm\": \"%s\", \"label\": %s, \"albums\": %d, \"pictures\": %d, "
                   "\"menu_pages\": %d, \"sectors\": %d, \"minutes\": %.2f, \"black_frames\": %zu, "
                   "\"seconds\": %.1f, \"workers\": %d, \"kept\": %s, \"burn\": %s}\n",
                   fileSink ? JsonQuote(fileSink->CuePath()).c_str() : "null",
                   fileSink ? JsonQuote(fileSink->BinPath()).c_str() : "null", norm == TvNorm::Pal ? "PAL" : "NTSC",
                   JsonQuote(prepared.label.text).c_str(), result.albums, result.pictures, result.menuPages,
                   result.totalSectors, discSeconds / 60, result.unreadablePictures.size(), seconds, result.workers,
                   options.keepTemp ? JsonQuote(prepared.runFolder->Path()).c_str() : "null",
                   feed ? OneLine(BurnJson(options.burnOptions.device, options.burnOptions, feed->Result(), 0)).c_str()
                        : "null")
                .c_str(),
            stdout);
        return 0;
    }
    if (!fileSink)
        return 0;
    const BinCueSink& sink = *fileSink;

    std::string summary = Format("Video CD image written: %s (%s)\n", sink.CuePath().c_str(), sink.BinPath().c_str());
    summary += Format("  %s, %s, %s, %s, label %s\n", norm == TvNorm::Pal ? "PAL" : "NTSC",
                      plural(result.albums, "album").c_str(), plural(result.pictures, "picture").c_str(),
                      plural(result.menuPages, "menu page").c_str(), prepared.label.text.c_str());
    summary += Format("  %s, %.2f of %.0f minutes of disc used (%.1f%%)\n",
                      plural(result.totalSectors, "sector").c_str(), discSeconds / 60, kDiscMinutes,
                      discSeconds / 60 / kDiscMinutes * 100);
    if (!result.unreadablePictures.empty())
        summary += Format("  %s could not be decoded and went on the disc as black frame%s\n",
                          plural(static_cast<long long>(result.unreadablePictures.size()), "picture").c_str(),
                          result.unreadablePictures.size() == 1 ? "" : "s");
    summary += Format("  time taken: %s (%s)\n", Duration(seconds).c_str(), plural(result.workers, "worker").c_str());
    std::fputs(summary.c_str(), stdout);
    if (options.keepTemp)
        std::printf("  files of the run kept in %s\n", prepared.runFolder->Path().c_str());
    return 0;
}

const CommandRegistration registration({
    "make",
    "PROJECT.lvx|FOLDER... -o DISC.cue|--burn DEVICE [--template NAME|FILE] [--background FILE] [--music FILE] "
    "[--pal|--ntsc] [--label TEXT] [--slideshow-track auto|always|never] [--jobs N] [--temp DIR] [--keep-temp] "
    "[--quiet] [--json]",
    "Makes the Video CD of a project as a disc image: every menu page and every picture is\n"
    "rendered, encoded as an MPEG-1 still and multiplexed into a still segment, then the\n"
    "Video CD 2.0 image (ISO 9660 / CD-XA file system, control files, segments and the\n"
    "MPEG track) is written as DISC.bin beside DISC.cue. The image appears under its name\n"
    "only when it is complete.\n"
    "\n"
    "The disc menu is the one the project file names, as the desktop program burns it: its\n"
    "template, menu background and music. --template, --background and --music each replace\n"
    "their part of it. A file of the project's design that is gone is named in a warning\n"
    "and left out, as the desktop program leaves it out.\n"
    "\n"
    "Instead of a project file, one or more folders of pictures may be given: each folder\n"
    "becomes an album named after it, with its JPEG, TIFF, BMP, EPS, PNG, WebP and HEIC\n"
    "pictures in natural name order (IMG_2 before IMG_10), at most 99 (the others are\n"
    "named in a warning), each turned as its EXIF orientation asks (as lumivox-cli new\n"
    "turns them).\n"
    "\n"
    "Options:\n"
    "  -o, --output DISC.cue  the CUE sheet to make; the BIN file goes beside it with the\n"
    "                         extension .bin (DISC.bin names the same pair)\n"
    "  --template NAME|FILE   the disc-menu template: an installed template (\"classic.ini\"\n"
    "                         or \"classic\"; see lumivox-cli templates) or a template file\n"
    "                         anywhere. Default: the project's template, else classic.ini\n"
    "  --background FILE      a picture that replaces the template's menu background;\n"
    "                         default: the project's; \"\" for the template's own\n"
    "  --music FILE           menu music, an MP3 or WAVE file (played under every menu\n"
    "                         page); default: the project's; \"\" for none\n"
    "  --pal, --ntsc          the TV norm; default: the PAL setting of config.ini (NTSC)\n"
    "  --label TEXT           the CD label, written as the disc's volume identifier holds\n"
    "                         it: capitals, digits and \"_\", at most 32. Small letters are\n"
    "                         written as capitals, accented ones as their base letter,\n"
    "                         every run of other characters as one \"_\", and a warning\n"
    "                         says what was written; a blank label is the default.\n"
    "                         Default: the project's file name so written, or LUMIVOX\n"
    "  --slideshow-track auto|always|never\n"
    "                         the disc's MPEG track, which players without playback\n"
    "                         control show: the whole slideshow (a title card of 3 s per\n"
    "                         album, then its pictures for the album's wait time, with the\n"
    "                         menu music, one chapter per album) or the fixed 2-second card.\n"
    "                         auto: the slideshow when the disc has room for it, else the\n"
    "                         card and a warning naming what is missing; always: refused\n"
    "                         when it does not fit. Default: SlideshowTrack of config.ini\n"
    "                         (auto)\n"
    "  --jobs N, -j N         threads at work at once, 1 to 64; default: one per processor\n"
    "                         (at most 8). The image is the same for every N\n"
    "  --temp DIR             folder for the files of the run; default: TempDir of\n"
    "                         config.ini. Each run works in a folder of its own below it\n"
    "                         (make-XXXXXX), removed at the end\n"
    "  --keep-temp            keep the run's folder (segments, stills, music) and print it\n"
    "  --quiet, -q            no progress, only warnings, errors and the summary\n"
    "  --json                 the summary as one JSON object on standard output: \"cue\",\n"
    "                         \"bin\", \"norm\", \"label\", \"albums\", \"pictures\", \"menu_pages\",\n"
    "                         \"sectors\", \"minutes\", \"black_frames\", \"seconds\",\n"
    "                         \"workers\", \"kept\" (the run's folder) and \"burn\" (see\n"
    "                         lumivox-cli help burn); null where there is none\n"
    "\n"
    "Progress goes to standard error: a bar with the stage and its percentage on a\n"
    "terminal, one line per step otherwise. A picture that can no longer be decoded goes\n"
    "on the disc as a black frame and is named in a warning. Ctrl-C cancels: the run stops\n"
    "within one picture or one buffer of the image, and no image is left behind.\n"
    "\n"
    "With --burn DEVICE the disc is written while it is made (with -o as well, the same\n"
    "sectors also go to the BIN/CUE image). DEVICE is a recorder's node (/dev/sr0; see\n"
    "lumivox-cli drives) or an emulated recorder (emulated:FOLDER?options). The drive and\n"
    "its disc are checked before anything is made. Burn options:\n"
    "  --speed 0-6, --simulate, --burn-proof, --driver auto|mmc|raw, --no-verify,\n"
    "  --no-eject (see lumivox-cli help burn)\n"
    "\n"
    "Exit status: 0 when the image is complete, 1 when the run failed (one line on\n"
    "standard error names the file and the reason), 2 for a wrong command line, 130 when\n"
    "cancelled.",
    RunMake,
});

} // namespace

} // namespace lumivox::cli
