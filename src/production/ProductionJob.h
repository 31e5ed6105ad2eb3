// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The production run: turns the project into a Video CD image, stage by stage —
//   1. menu music: the menu's music file becomes T + "bkmusic.mp2";
//   1a. capacity: the disc's segment units, entries, lists and sectors are computed from
//      the plan (the menu page size measured once the music is known) and a disc that
//      would exceed any limit is refused before a single frame is encoded;
//   2. menu pages: each page is rendered, encoded to a still and multiplexed with the
//      companion still (and the music) into T + "menu_%02d.mpg", pages counted from 1;
//   3. slides: every picture of every album is rendered, encoded and multiplexed into
//      T + "menu_%02d_pic_%02d.mpg" (album number from 1, picture number within the
//      album from 1; an empty album makes no file and later albums keep their numbers);
//   4. authoring: the disc layout is built from those files and the norm's MPEG track,
//      computed (the total sector count goes into the job) and written into the sink.
// T is the run's temporary folder, P the program folder (companion stills "temp_x.npal"
// / "temp_x.ntsc" and MPEG tracks "avseq01.npal" / "avseq01.ntsc").
//
// Frames go through render -> encode -> multiplex on several workers at once, menu pages
// and slides as one row of frames (pages first), so that no core waits between the two
// stages. An album whose cover the plan does not hold (a project loaded by headers only)
// gets it from its cover's slide: those slides are made first, and the decode that makes
// the slide also gives the menu its cover, so every picture is decoded once. The still encoder and the multiplexer run in a helper process that each worker
// keeps for the whole run (every job in a fresh copy of it, see MjpegJob.h), so every
// worker has its own library state and its own still file: "temp_d.m1v" for worker 0 and
// "temp_d_%02d.m1v" (worker number from 1) for the others. Segments are collected in
// order, so the image is byte for byte the same whatever the number of workers.
//
// A run is a task object: fill ProductionParameters, then Start (own thread) or Run
// (calling thread). Progress, warnings and the end come through a ProductionObserver on
// the production thread. Cancelling sets the shared manual-reset cancel event; the run
// looks at it between menu pages, before every slide (each worker finishes at most the
// slide in its hands), and between every few hundred sectors of the image, and then ends
// as cancelled. The sink is never closed after a cancel or a failure: a file sink then
// removes its partial image when it is destroyed.

#include "base/CoreText.h"
#include "base/Event.h"
#include "picture/FrameRenderer.h"
#include "picture/MenuTemplate.h"
#include "production/ProductionPlan.h"
#include "production/ProgressMessages.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace lumivox {

class ImageSink;

// Shown when the still encoder or the multiplexer fails because the disk of the
// temporary folder is full; the detail follows it.
inline constexpr const char* kMsgEncoderFailure = QT_TRANSLATE_NOOP(
    "lumivox::core",
    "Please make sure you have enough free disc space in your temp folder drive or reinstall Lumivox!");
// Shown when they fail for any other reason; the detail (the file and the reason) follows it.
inline constexpr const char* kMsgEncoderStepFailure =
    QT_TRANSLATE_NOOP("lumivox::core", "The disc could not be made:");

// Names of the run's files (formats take the folder first).
inline constexpr const char* kMenuMusicFormat = "%sbkmusic.mp2";
inline constexpr const char* kStillFileFormat = "%stemp_d.m1v";
inline constexpr const char* kWorkerStillFileFormat = "%stemp_d_%02d.m1v";
inline constexpr const char* kMenuSegmentFormat = "%smenu_%02d.mpg";
inline constexpr const char* kSlideSegmentFormat = "%smenu_%02d_pic_%02d.mpg";
inline constexpr const char* kNtscCompanionFormat = "%stemp_x.ntsc";
inline constexpr const char* kPalCompanionFormat = "%stemp_x.npal";
inline constexpr const char* kNtscTrackFormat = "%savseq01.ntsc";
inline constexpr const char* kPalTrackFormat = "%savseq01.npal";
// The slideshow track's files: each interval's I picture (album from 1, picture from 1,
// 00 for the album's title card), its video, its sound and the multiplexed track.
inline constexpr const char* kTrackPictureFormat = "%strack_%02d_%02d.m1v";
inline constexpr const char* kTrackVideoFormat = "%savseq01.m1v";
inline constexpr const char* kTrackAudioFormat = "%savseq01.mp2";
inline constexpr const char* kTrackFileFormat = "%savseq01.mpg";
// Publisher identifier of every disc.
inline constexpr const char* kPublisherIdentifier = "LV_VCD 1.0";
// The CD label holds at most 259 bytes (cut on a character boundary).
constexpr std::size_t kMaxCdLabelBytes = 259;

// Each worker holds one decoded photo (a 12-megapixel photo is 48 MB at 32 bits), so
// the default number of workers is the processor count but never more than this.
constexpr int kMaxDefaultWorkers = 8;
// More workers than this are never started, whatever is asked.
constexpr int kMaxWorkers = 64;

// Who reports the writing progress (UM_WRITE_PROGRESS).
enum class WriteReporting {
    ByRun, // the run itself, while it writes into a file sink
    BySink, // the sink (a recorder sink's burn thread reports what reached the disc)
};

struct ProductionParameters {
    // What goes on the disc: the snapshot taken on the project's own thread
    // (MakeProductionPlan); the run reads nothing else of the project.
    ProductionPlan plan;

    std::string tempFolder; // T, created when missing; a trailing "/" is supplied
    std::string programFolder; // P; a trailing "/" is supplied

    // Workers of the frame stages: 0 = one per processor (at most kMaxDefaultWorkers);
    // they are taken from the process's worker budget (base/Parallel.h).
    int jobs = 0;

    // Where the image goes; not owned, must outlive the run. Closed by the run only
    // when the image is complete. A sink that hands sectors to a consumer of its own (the
    // recorder's burn thread) must refuse the next sector (-1) once that consumer has
    // ended, rather than wait for room that will never come; the run then stops.
    ImageSink* sink = nullptr;
    WriteReporting writeReporting = WriteReporting::ByRun;

    // The shared cancel event; not owned. When null the job uses an event of its own
    // (ProductionJob::Cancel sets whichever is in use).
    ManualResetEvent* cancel = nullptr;

    // Decodes a slide's picture in full (32 bits per pixel, not turned), throwing
    // PLTextException; empty = the picture reader. Called from the frame workers.
    std::function<void(const std::string& path, PicBitmap& picture)> slideDecoder;
};

struct ProductionResult {
    ProductionStatus status = ProductionStatus::Failed;
    // Failed: one line (or two: a fixed text and its detail) for the user. Cancelled:
    // "The production was cancelled.". Finished: empty.
    std::string message;
    int albums = 0; // albums on the disc
    int pictures = 0; // slides on the disc
    int menuPages = 0;
    std::int32_t totalSectors = 0; // of the whole image; 0 until computed
    // Pictures that could no longer be decoded and went on the disc as black frames,
    // each as "PATH: reason".
    std::vector<std::string> unreadablePictures;
    int workers = 0; // workers the frame stages used

    bool Finished() const { return status == ProductionStatus::Finished; }
};

// The number of workers a run uses for `jobs` (0 = default) and `frames` frames.
int ProductionWorkerCount(int jobs, int frames);

class ProductionJob {
public:
    explicit ProductionJob(ProductionParameters parameters);
    // Cancels nothing: waits for a started run to end.
    ~ProductionJob();
    ProductionJob(const ProductionJob&) = delete;
    ProductionJob& operator=(const ProductionJob&) = delete;

    // Starts the run on a thread of its own (a std::jthread). The observer (may be null,
    // not owned) must outlive the run. A job runs once; a second Start or Run does nothing
    // and returns false.
    bool Start(ProductionObserver* observer);
    // Waits until a started run has ended.
    void Wait();
    // True once the run has ended (OnFinished has been called).
    bool IsFinished() const { return finished_.load(); }
    // Runs on the calling thread and returns the result (also given to OnFinished).
    ProductionResult Run(ProductionObserver* observer);

    // Signals the cancel event (the shared one, or the job's own).
    void Cancel();
    ManualResetEvent& CancelEvent() { return *cancel_; }

    // The result; complete once IsFinished() is true.
    const ProductionResult& Result() const { return result_; }
    // The image's total sectors: 0 until the layout is computed (readable at any time).
    std::int32_t TotalSectors() const { return totalSectors_.load(); }
    const ProductionParameters& Parameters() const { return parameters_; }

private:
    class Run; // one run's stages, each a method and a cancel point
    ProductionResult Execute(ProductionObserver* observer);

    ProductionParameters parameters_;
    ManualResetEvent ownCancel_;
    ManualResetEvent* cancel_;
    std::atomic<bool> started_{false};
    std::atomic<bool> finished_{false};
    std::atomic<std::int32_t> totalSectors_{0};
    ProductionResult result_;
    std::jthread thread_;
};

} // namespace lumivox
