// SPDX-License-Identifier: GPL-2.0-or-later
#include "production/ProductionJob.h"

#include "base/FileDescriptor.h"
#include "base/Parallel.h"
#include "base/Paths.h"
#include "base/TextUtil.h"
#include "picture/PLTextException.h"
#include "picture/PicReader.h"
#include "picture/QtGuiHost.h"
#include "production/DiscEstimate.h"
#include "production/FrameWorkers.h"
#include "production/MjpegJob.h"
#include "production/MjpegLog.h"
#include "production/Multiplexer.h"
#include "production/MusicConversion.h"
#include "production/SlideshowTrack.h"
#include "production/StillEncoder.h"
#include "project/AlbumTable.h"
#include "vcd/ImageSink.h"
#include "vcd/MpegSource.h"
#include "vcd/VideoCdLayout.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <fcntl.h>
#include <locale.h>
#include <new>
#include <optional>
#include <unistd.h>
#include <utility>

namespace lumivox {

namespace {

constexpr const char* kMsgCancelled = "The production was cancelled.";

std::string TrimNewlines(std::string text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    while (!text.empty() && (text.front() == '\n' || text.front() == ' '))
        text.erase(text.begin());
    for (char& c : text)
        if (c == '\n' || c == '\r')
            c = ' ';
    return text;
}

// Whether a failure's detail tells of a full disk or a used-up quota. The encoder helper
// writes the C library's text of its error in its own "C" locale; the program's own
// checks write it in the locale the program runs under.
bool TellsDiskFull(const std::string& detail)
{
    static const locale_t cLocale = ::newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    for (const int code : {ENOSPC, EDQUOT}) {
        if (detail.find(std::strerror(code)) != std::string::npos)
            return true;
        if (cLocale && detail.find(::strerror_l(code, cLocale)) != std::string::npos)
            return true;
    }
    return false;
}

// The encoder and multiplexer failure: the fixed text and what went wrong. Only a full
// disk is told to make room; any other failure (a missing program file, a picture or
// stream the helper refused, a helper that died) is told as what it is.
std::string EncoderFailure(const std::string& detail)
{
    return std::string(TellsDiskFull(detail) ? kMsgEncoderFailure : kMsgEncoderStepFailure) + "\n" +
           TrimNewlines(detail);
}

// A file the run needs from the program folder: readable, or the reason.
bool CheckReadable(const std::string& path, std::string* reason)
{
    const FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd) {
        *reason = path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

// The temporary folder must take files before anything is made; the still file of
// worker 0 is the run's first file anyway, so it serves as the probe.
bool CheckWritable(const std::string& path, std::string* reason)
{
    const FileDescriptor fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!fd) {
        *reason = path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

// A frame for a picture that can no longer be decoded: black, opaque, so that the slide
// keeps its place and every number of the disc stays as the project says.
PicBitmap BlackFrame(TvNorm norm)
{
    PicBitmap frame;
    frame.Create(kFrameWidth, FrameHeight(norm), 32, false);
    for (int y = 0; y < frame.Height(); ++y) {
        std::uint8_t* row = frame.Row(y);
        for (int x = 0; x < frame.Width(); ++x) {
            row[4 * x + 0] = row[4 * x + 1] = row[4 * x + 2] = 0;
            row[4 * x + 3] = 0xFF;
        }
    }
    return frame;
}

struct SlideRef {
    int album = 0; // from 0
    int position = 0; // from 0 within the album
};

// A frame of the run: menu page `index`, slide `index`, or the title card of the
// slideshow track's interval `index`.
struct FrameRef {
    enum class Kind { Page, Slide, Card } kind = Kind::Slide;
    std::size_t index = 0;
};

// The menu needs a cover no smaller than its image box: an eighth of the picture (what a
// reduced-mode decode gives), but at least this long on its longer side.
constexpr int kMenuCoverMinSide = 384;

// The covers the run takes from slide decodes, handed from the slide's worker to the
// workers of the menu pages.
class SlideCovers {
public:
    explicit SlideCovers(std::size_t albums) : pictures_(albums), done_(albums, true) { }
    void Expect(std::size_t album) { done_[album] = false; }
    void Set(std::size_t album, std::unique_ptr<PicBitmap> picture)
    {
        std::lock_guard lock(mutex_);
        pictures_[album] = std::move(picture);
        done_[album] = true;
        changed_.notify_all();
    }
    // Waits until the covers of albums [first, end) are known (or known to be missing).
    void WaitFor(std::size_t first, std::size_t end)
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return Known(first, end); });
    }
    // Whether they are known now.
    bool Ready(std::size_t first, std::size_t end)
    {
        std::lock_guard lock(mutex_);
        return Known(first, end);
    }
    // Valid once WaitFor has returned for the album.
    const PicBitmap* Picture(std::size_t album) const { return pictures_[album].get(); }

private:
    bool Known(std::size_t first, std::size_t end) const
    {
        for (std::size_t a = first; a < end; ++a)
            if (!done_[a])
                return false;
        return true;
    }
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::unique_ptr<PicBitmap>> pictures_;
    std::vector<bool> done_;
};

// The size of the menu's copy of a slide's decoded, turned picture.
QSize MenuCoverSize(int pictureWidth, int pictureHeight)
{
    const int longer = std::max(pictureWidth, pictureHeight);
    double scale = std::max(1.0 / 8.0, static_cast<double>(kMenuCoverMinSide) / std::max(longer, 1));
    scale = std::min(scale, 1.0);
    return QSize(std::max(1, static_cast<int>(pictureWidth * scale + 0.5)),
                 std::max(1, static_cast<int>(pictureHeight * scale + 0.5)));
}

} // namespace

int ProductionWorkerCount(int jobs, int frames)
{
    int workers = jobs;
    if (workers <= 0)
        workers = std::clamp(WorkerBudget(), 1, kMaxDefaultWorkers);
    workers = std::min(workers, kMaxWorkers);
    return std::max(1, std::min(workers, frames));
}

// One run: the stages in order, each a method that returns false when the run ends
// there (failed or cancelled, with result_ set), each a cancel point.
class ProductionJob::Run {
public:
    Run(const ProductionParameters& parameters, const ManualResetEvent& cancel, ProductionObserver* observer,
        std::atomic<std::int32_t>& totalSectors)
        : p_(parameters), plan_(parameters.plan), cancel_(cancel), observer_(observer), totalSectors_(totalSectors)
    { }

    ProductionResult Execute()
    {
        for (const std::string& path : plan_.missingPictures)
            Warn(path + ": the file is missing; the picture is left off the disc.");
        try {
            if (CheckInputs() && EarlyCapacityCheck() && MusicStage() && CapacityCheck() && FrameStages() &&
                TrackStage() && AuthoringStage()) {
                result_.status = ProductionStatus::Finished;
                result_.message.clear();
            }
        } catch (const std::bad_alloc&) {
            Fail("The production run ran out of memory.");
        } catch (const std::exception& e) {
            Fail(std::string("The production run failed: ") + e.what());
        }
        return result_;
    }

private:
    bool Fail(std::string message)
    {
        result_.status = ProductionStatus::Failed;
        result_.message = std::move(message);
        return false;
    }
    bool Cancelled()
    {
        result_.status = ProductionStatus::Cancelled;
        result_.message = kMsgCancelled;
        return false;
    }
    void Post(ProgressMessage message, std::int64_t done = 0, std::int64_t total = 0) const
    {
        if (observer_)
            observer_->OnProgress(MakeProgressEvent(message, done, total));
    }
    void Post(const ProgressEvent& event) const
    {
        if (observer_)
            observer_->OnProgress(event);
    }
    void Warn(const std::string& text) const
    {
        if (observer_)
            observer_->OnWarning(text);
    }
    std::vector<std::string> StillPaths(int workers) const
    {
        std::vector<std::string> paths;
        for (int w = 0; w < workers; ++w)
            paths.push_back(w == 0 ? Format(kStillFileFormat, temp_.c_str())
                                   : Format(kWorkerStillFileFormat, temp_.c_str(), w));
        return paths;
    }

    // Everything that can be known to be wrong is refused before a file is written.
    bool CheckInputs()
    {
        totalSectors_ = 0;
        if (!p_.sink)
            return Fail("The production run was given nowhere to write the disc image.");
        if (plan_.AlbumCount() > MAX_ALBUMS)
            return Fail(Format("The production run was given %d albums; a disc holds at most %d.", plan_.AlbumCount(),
                               MAX_ALBUMS));
        itemsPerPage_ = plan_.EntriesPerPage();
        if (itemsPerPage_ < 1)
            return Fail(plan_.menuTemplate.path + ": the menu template has no menu entries (\"Items_count\" is " +
                        std::to_string(plan_.menuTemplate.itemsCount) + "); choose another template.");
        if (itemsPerPage_ != plan_.menuTemplate.itemsCount)
            return Fail(Format("%s: the menu template shows %d entries per page, not %d.",
                               plan_.menuTemplate.path.c_str(), plan_.menuTemplate.itemsCount, itemsPerPage_));

        temp_ = WithTrailingSlash(p_.tempFolder.empty() ? std::string("./") : p_.tempFolder);
        program_ = WithTrailingSlash(p_.programFolder.empty() ? ProgramFolder() : p_.programFolder);
        const bool pal = plan_.norm == TvNorm::Pal;
        companion_ = Format(pal ? kPalCompanionFormat : kNtscCompanionFormat, program_.c_str());
        track_ = Format(pal ? kPalTrackFormat : kNtscTrackFormat, program_.c_str());
        std::string reason;
        if (!CheckReadable(companion_, &reason) || !CheckReadable(track_, &reason))
            return Fail(EncoderFailure(reason));
        if (!CreateFolder(temp_))
            return Fail(EncoderFailure(temp_ + ": the temporary folder cannot be created"));
        if (!CheckWritable(Format(kStillFileFormat, temp_.c_str()), &reason))
            return Fail(EncoderFailure(reason));

        menuAlbums_ = plan_.MenuAlbums();
        for (int a = 0; a < plan_.AlbumCount(); ++a)
            for (int q = 0; q < static_cast<int>(plan_.albums[static_cast<std::size_t>(a)].pictures.size()); ++q)
                slides_.push_back({a, q});
        pages_ = plan_.MenuPages();
        result_.albums = plan_.AlbumCount();
        result_.pictures = static_cast<int>(slides_.size());
        result_.menuPages = pages_;
        // The program makes its graphics application on its main thread; a run never
        // creates one from its own thread.
        if (pages_ > 0 && !HasGuiApplication())
            return Fail(kMsgNoGuiApplication);
        // The first message says what comes first: the music, or the pages.
        ProgressEvent begin = MakeProgressEvent(UM_MENU_ENCODE_BEGIN);
        if (!plan_.musicPath.empty())
            begin.stage = ProgressStage::MenuMusic;
        Post(begin);
        return true;
    }

    bool MusicStage()
    {
        if (plan_.musicPath.empty())
            return true;
        music_ = Format(kMenuMusicFormat, temp_.c_str());
        CancelFlag cancelFlag(cancel_);
        std::string error;
        if (!ConvertBackgroundMusic(music_, plan_.musicPath, temp_, &error, cancelFlag.Flag())) {
            if (cancel_.IsSet())
                return Cancelled();
            Post(UM_MENU_ENCODE_FAILED);
            return Fail("The menu music could not be converted: " +
                        TrimNewlines(error.empty() ? plan_.musicPath : error));
        }
        return !cancel_.IsSet() || Cancelled();
    }

    // Before the music is converted (three hours of it take a minute): the disc's size
    // with the music's length read from its header.
    bool EarlyCapacityCheck()
    {
        if (plan_.musicPath.empty())
            return true;
        const DiscEstimate estimate = EstimateDisc(plan_, program_);
        if (!estimate.Fits()) {
            Post(UM_MENU_ENCODE_FAILED);
            return Fail("The disc cannot be made: " + TrimNewlines(estimate.limitExceeded));
        }
        return !cancel_.IsSet() || Cancelled();
    }

    // The disc's size is known now: refuse a disc that cannot be made before any frame
    // is encoded.
    bool CapacityCheck()
    {
        SegmentUnits units;
        if (!music_.empty()) {
            std::string error;
            const MjpegCancelScope stopOnCancel(&cancel_);
            if (!MeasureSegmentUnits(temp_, companion_, music_, plan_.norm, units, &error)) {
                if (cancel_.IsSet())
                    return Cancelled();
                Post(UM_MENU_ENCODE_FAILED);
                return Fail(EncoderFailure(error));
            }
        }
        const DiscEstimate estimate = EstimateDisc(plan_, program_, units);
        if (!estimate.Fits()) {
            Post(UM_MENU_ENCODE_FAILED);
            return Fail("The disc cannot be made: " + TrimNewlines(estimate.limitExceeded));
        }
        if (!estimate.trackWarning.empty())
            Warn(estimate.trackWarning);
        if (estimate.slideshowTrack) {
            timeline_ = MakeSlideshowTimeline(plan_);
            slideshow_ = true;
        }
        return !cancel_.IsSet() || Cancelled();
    }

    // One menu page: rendered, encoded and multiplexed with the companion still (and the
    // music).
    FrameOutcome MakePage(int page, const std::string& stillPath) const
    {
        FrameOutcome outcome;
        PicBitmap frame;
        std::string error;
        // The covers this page shows that come from slides are ready first (the workers
        // take a page only once they are, so this does not wait in a run).
        const auto [first, end] = PageAlbums(page);
        covers_->WaitFor(first, end);
        std::vector<MenuAlbum> albums = menuAlbums_;
        for (std::size_t a = first; a < end; ++a)
            if (const PicBitmap* cover = covers_->Picture(a))
                albums[a].picture = cover;
        if (!RenderMenuFrame(plan_.menuTemplate, plan_.backgroundOverride, albums, page * itemsPerPage_, plan_.norm,
                             frame, &error))
            outcome.warning = Format("Menu page %d is black: ", page + 1) + TrimNewlines(error);
        if (!EncodeStill(frame, plan_.norm, stillPath, &error)) {
            outcome.error = Format("menu page %d: ", page + 1) + TrimNewlines(error);
            return outcome;
        }
        // The multiplexer is called as its command line would be: "mplex", the segment,
        // the still, the companion and, only with music, the music.
        std::vector<std::string> arguments = {"mplex", Format(kMenuSegmentFormat, temp_.c_str(), page + 1), stillPath,
                                              companion_};
        if (!music_.empty())
            arguments.push_back(music_);
        if (MultiplexMain(arguments, &error) != 0) {
            outcome.error = Format("menu page %d: ", page + 1) + TrimNewlines(error);
            return outcome;
        }
        outcome.ok = true;
        return outcome;
    }

    // The track's sound needs nothing but the timeline and the music: it is encoded on a
    // thread of its own while the slides are made.
    void StartTrackAudio()
    {
        if (!slideshow_)
            return;
        // The music as 16-bit samples: an MP3 was decoded for the menu already.
        std::string pcm;
        if (!plan_.musicPath.empty()) {
            std::string extension =
                plan_.musicPath.size() >= 4 ? plan_.musicPath.substr(plan_.musicPath.size() - 4) : "";
            for (char& c : extension)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            pcm = extension == ".mp3" ? Format(kMusicIntermediateFormat, temp_.c_str()) : plan_.musicPath;
        }
        audio_ = std::jthread([this, pcm] {
            std::string error;
            try {
                if (!EncodeTrackAudio(pcm, timeline_.Seconds(), Format(kTrackAudioFormat, temp_.c_str()), &error,
                                      &cancel_))
                    audioError_ = error.empty() ? std::string("failed") : error;
            } catch (const std::exception& e) {
                audioError_ = e.what();
            }
        });
    }

    // The albums [first, end) of menu page `page`.
    std::pair<std::size_t, std::size_t> PageAlbums(int page) const
    {
        const std::size_t first = static_cast<std::size_t>(page * itemsPerPage_);
        return {first, std::min(menuAlbums_.size(), first + static_cast<std::size_t>(itemsPerPage_))};
    }

    // One slide: rendered (a picture that can no longer be decoded gives a black frame),
    // encoded and multiplexed with the companion still.
    FrameOutcome MakeSlide(std::size_t index, const std::string& stillPath) const
    {
        FrameOutcome outcome;
        const SlideRef& slide = slides_[index];
        const PlannedPicture& picture =
            plan_.albums[static_cast<std::size_t>(slide.album)].pictures[static_cast<std::size_t>(slide.position)];
        const auto album = static_cast<std::size_t>(slide.album);
        // The menu pages waiting for this slide's cover are released however it ends.
        const bool givesCover = slide.position == 0 && coverFromSlide_[album];
        std::unique_ptr<PicBitmap> cover;
        struct Release {
            SlideCovers* covers;
            std::size_t album;
            std::unique_ptr<PicBitmap>& cover;
            ~Release()
            {
                if (covers)
                    covers->Set(album, std::move(cover));
            }
        } release{givesCover ? covers_.get() : nullptr, album, cover};
        PicBitmap frame;
        try {
            // The picture's rows go straight into the frame (and the cover) as they are
            // decoded: a camera's photo is never held at its decoded size.
            SlideFitter fitter(picture.rotation, plan_.norm, plan_.slideGeometry,
                               givesCover ? SlideFitter::CoverSize(MenuCoverSize) : SlideFitter::CoverSize());
            if (p_.slideDecoder) {
                PicBitmap decoded;
                p_.slideDecoder(picture.path, decoded);
                HandOverRows(decoded, fitter);
            } else {
                PicReader reader;
                reader.SetMode(DecodeMode::Full);
                reader.SetUsefulSize(kFrameWidth, FrameHeight(plan_.norm));
                reader.DecodeFileRows(picture.path, fitter);
            }
            PicBitmap coverPicture;
            fitter.Finish(frame, givesCover ? &coverPicture : nullptr);
            if (givesCover)
                cover = std::make_unique<PicBitmap>(std::move(coverPicture));
        } catch (const PLTextException& e) {
            outcome.unreadable = picture.path + ": " + TrimNewlines(e.GetText());
        } catch (const std::bad_alloc&) {
            outcome.unreadable = picture.path + ": not enough memory to decode the picture";
        }
        if (!outcome.unreadable.empty()) {
            frame = BlackFrame(plan_.norm);
            outcome.warning =
                outcome.unreadable + Format(" (album %02d, picture %02d goes on the disc as a black frame)",
                                            slide.album + 1, slide.position + 1);
        }
        std::string error;
        const std::string segment = Format(kSlideSegmentFormat, temp_.c_str(), slide.album + 1, slide.position + 1);
        // The frame is read into the encoder's planes once: the still encodes them, and the
        // slideshow track shows the same frame at its own size.
        StillPlanes planes;
        StillPlanes trackPlanes;
        if (!ReadStillFrame(frame.Header(), frame.Palette(), frame.Pixels(), planes, &error) ||
            (slideshow_ && !TrackPlanesFromStill(planes, trackPlanes, &error))) {
            outcome.error =
                Format("album %02d, picture %02d: ", slide.album + 1, slide.position + 1) + TrimNewlines(error);
            return outcome;
        }
        frame = PicBitmap(); // the planes hold the picture now
        StillEncoder encoder;
        encoder.SetPreparedPlanes(std::move(planes));
        if (!encoder.EncodeStill(stillPath, plan_.norm, &error) ||
            MultiplexStill(segment, stillPath, companion_, &error) != 0 ||
            (slideshow_ &&
             !EncodeTrackPicture(trackPlanes, plan_.norm, TrackPicturePath(slide.album, slide.position), &error))) {
            outcome.error =
                Format("album %02d, picture %02d: ", slide.album + 1, slide.position + 1) + TrimNewlines(error);
            return outcome;
        }
        outcome.ok = true;
        return outcome;
    }

    // The title card of the slideshow track's interval `interval`: rendered and encoded
    // as the track's I picture.
    FrameOutcome MakeCard(std::size_t interval) const
    {
        FrameOutcome outcome;
        const int album = timeline_.intervals[interval].album;
        PicBitmap frame;
        std::string error;
        if (!RenderTitleCard(plan_.menuTemplate, plan_.backgroundOverride,
                             plan_.albums[static_cast<std::size_t>(album)].name, plan_.norm, frame, &error))
            outcome.warning = Format("The title card of album %02d is black: ", album + 1) + TrimNewlines(error);
        StillPlanes planes;
        if (!TrackPlanesFromFrame(frame, planes, &error) ||
            !EncodeTrackPicture(planes, plan_.norm, TrackPicturePath(album, -1), &error)) {
            outcome.error = Format("title card of album %02d: ", album + 1) + TrimNewlines(error);
            return outcome;
        }
        outcome.ok = true;
        return outcome;
    }

    // Menu pages and slides are one row of frames for the workers, pages first: a worker
    // that finds no page left, or none whose covers are made yet, goes on with the first
    // slides while the pages wait, so no core waits between the two. Each worker keeps
    // one helper process for all its encodes and multiplexes. Results are collected in order, so the messages
    // come as before: every page, the end of the menu, then every slide. The slideshow
    // track's title cards close the row: they need nothing from the slides, so the worker
    // that finds no slide left makes them while the last slides are made, and the track
    // can be put together as soon as the row ends.
    bool FrameStages()
    {
        StartTrackAudio();
        const int slideCount = static_cast<int>(slides_.size());
        std::vector<std::size_t> cards; // the intervals of the title cards
        if (slideshow_)
            for (std::size_t i = 0; i < timeline_.intervals.size(); ++i)
                if (timeline_.intervals[i].picture < 0)
                    cards.push_back(i);
        const int frames = pages_ + slideCount + static_cast<int>(cards.size());
        if (frames == 0) {
            Post(UM_MENU_ENCODE_END);
            return true;
        }
        const int workers = ProductionWorkerCount(p_.jobs, frames);
        result_.workers = workers;
        // The order the workers take the frames in: the slides that give the menu its
        // covers, the pages, the other slides. slideFrame maps a slide to its place.
        covers_ = std::make_unique<SlideCovers>(plan_.albums.size());
        coverFromSlide_.assign(plan_.albums.size(), false);
        std::vector<FrameRef> order;
        std::vector<std::size_t> slideFrame(slides_.size());
        std::vector<bool> early(slides_.size(), false);
        for (std::size_t s = 0; s < slides_.size(); ++s) {
            const auto album = static_cast<std::size_t>(slides_[s].album);
            const PlannedAlbum& planned = plan_.albums[album];
            if (pages_ > 0 && slides_[s].position == 0 && !planned.coverPicture && !planned.coverThumbnail) {
                coverFromSlide_[album] = true;
                covers_->Expect(album);
                early[s] = true;
                slideFrame[s] = order.size();
                order.push_back({FrameRef::Kind::Slide, s});
            }
        }
        const std::size_t coverFrames = order.size();
        for (int page = 0; page < pages_; ++page)
            order.push_back({FrameRef::Kind::Page, static_cast<std::size_t>(page)});
        for (std::size_t s = 0; s < slides_.size(); ++s) {
            if (early[s])
                continue;
            slideFrame[s] = order.size();
            order.push_back({FrameRef::Kind::Slide, s});
        }
        const std::size_t firstCard = order.size();
        for (std::size_t interval : cards)
            order.push_back({FrameRef::Kind::Card, interval});
        std::vector<std::unique_ptr<MjpegHelperProcess>> helpers;
        for (int w = 0; w < workers; ++w)
            helpers.push_back(std::make_unique<MjpegHelperProcess>());
        const CancelFlag decodeCancel(cancel_);
        auto makeFrame = [&](std::size_t index, std::size_t worker, const std::string& stillPath) {
            const MjpegCancelScope stopOnCancel(&cancel_);
            const DecodeWatchScope stopDecodeOnCancel(decodeCancel.Flag());
            const MjpegHelperScope useHelper(helpers[worker].get());
            const FrameRef& frame = order[index];
            switch (frame.kind) {
            case FrameRef::Kind::Page:
                return MakePage(static_cast<int>(frame.index), stillPath);
            case FrameRef::Kind::Card:
                return MakeCard(frame.index);
            case FrameRef::Kind::Slide:
                break;
            }
            return MakeSlide(frame.index, stillPath);
        };
        // Nothing is started once the event is set; what is under way finishes.
        if (cancel_.IsSet())
            return Cancelled();
        // A cover slide that is not made releases the pages waiting for it all the same.
        auto skipped = [&](std::size_t index) {
            if (order[index].kind == FrameRef::Kind::Slide && index < coverFrames)
                covers_->Set(static_cast<std::size_t>(slides_[order[index].index].album), nullptr);
        };
        // A page is made once the slides that give its covers are; until then the workers
        // go on with the slides after it.
        auto ready = [&](std::size_t index) {
            if (order[index].kind != FrameRef::Kind::Page)
                return true;
            const auto [first, end] = PageAlbums(static_cast<int>(order[index].index));
            return covers_->Ready(first, end);
        };
        FrameWorkers pool(static_cast<std::size_t>(frames), StillPaths(workers), makeFrame, cancel_, skipped, ready);
        // Frame `index` once made; what it says (a warning, a picture that could not be
        // read) is reported when `report`. False when the run ends there: cancelled, or
        // failed (a menu frame says so to the menu's progress first).
        enum class Menu { Frame, No };
        auto take = [&](std::size_t index, Menu menu, bool report) -> bool {
            const FrameOutcome* outcome = pool.WaitFor(index);
            if (!outcome) {
                Cancelled();
                return false;
            }
            if (report && !outcome->warning.empty())
                Warn(outcome->warning);
            if (report && !outcome->unreadable.empty())
                result_.unreadablePictures.push_back(outcome->unreadable);
            if (outcome->ok)
                return true;
            pool.Stop();
            if (cancel_.IsSet()) {
                Cancelled(); // the frame's job was stopped by the cancel
                return false;
            }
            if (menu == Menu::Frame)
                Post(UM_MENU_ENCODE_FAILED);
            Fail(EncoderFailure(outcome->error));
            return false;
        };
        // The cover slides are collected first (they come first); what they say is
        // reported in slide order below. A cover slide that fails stops the run here.
        for (std::size_t f = 0; f < coverFrames; ++f)
            if (!take(f, Menu::Frame, false))
                return false;
        for (int page = 0; page < pages_; ++page) {
            if (cancel_.IsSet())
                return Cancelled();
            if (!take(coverFrames + static_cast<std::size_t>(page), Menu::Frame, true))
                return false;
            Post(UM_MENU_PAGE_PROGRESS, page + 1, pages_);
        }
        Post(UM_MENU_ENCODE_END);
        for (int s = 0; s < slideCount; ++s) {
            if (cancel_.IsSet()) {
                pool.Stop();
                return Cancelled();
            }
            Post(UM_SLIDE_PROGRESS, s, slideCount);
            if (!take(slideFrame[static_cast<std::size_t>(s)], Menu::No, true))
                return false;
        }
        for (std::size_t f = firstCard; f < order.size(); ++f)
            if (!take(f, Menu::No, true))
                return false;
        return true;
    }

    std::string TrackPicturePath(int album, int picture) const // picture -1: the title card
    {
        return Format(kTrackPictureFormat, temp_.c_str(), album + 1, picture + 1);
    }

    // The slideshow track: its I pictures were encoded with the slides and title cards,
    // the music looped under the whole track; the video is put together and multiplexed,
    // and each album's entry point found.
    bool TrackStage()
    {
        if (!slideshow_)
            return true;
        if (cancel_.IsSet())
            return Cancelled();
        std::string error;
        if (audio_.joinable())
            audio_.join();
        if (!audioError_.empty())
            return cancel_.IsSet()
                       ? Cancelled()
                       : Fail("The slideshow track's sound could not be made: " + TrimNewlines(audioError_));
        const std::string audio = Format(kTrackAudioFormat, temp_.c_str());
        std::vector<std::string> pictures;
        for (const SlideshowInterval& interval : timeline_.intervals)
            pictures.push_back(TrackPicturePath(interval.album, interval.picture));
        const std::string video = Format(kTrackVideoFormat, temp_.c_str());
        std::vector<std::uint64_t> chapterOffsets;
        if (!AssembleTrackVideo(timeline_, pictures, video, chapterOffsets, &error))
            return Fail(EncoderFailure(error));
        if (cancel_.IsSet())
            return Cancelled();
        slideshowTrack_ = Format(kTrackFileFormat, temp_.c_str());
        {
            const MjpegCancelScope stopOnCancel(&cancel_);
            if (!MultiplexTrack(slideshowTrack_, video, audio, &error))
                return cancel_.IsSet() ? Cancelled() : Fail(EncoderFailure(error));
        }
        // The track takes exactly the room the disc was sized with: what the multiplexer
        // leaves of it becomes empty sectors after the last pack.
        const std::uint64_t packs = SlideshowTrackPackets(timeline_);
        std::error_code sizeError;
        const std::uint64_t made = std::filesystem::file_size(slideshowTrack_, sizeError);
        if (sizeError || made > packs * kMpegPacketSize)
            return Fail(Format("The disc cannot be made: the slideshow track came out larger than the %llu sectors "
                               "it was sized with.",
                               static_cast<unsigned long long>(packs)));
        std::filesystem::resize_file(slideshowTrack_, packs * kMpegPacketSize, sizeError);
        if (sizeError)
            return Fail(EncoderFailure(slideshowTrack_ + ": " + sizeError.message()));
        std::vector<std::uint32_t> packets;
        if (!VideoBytePackets(slideshowTrack_, chapterOffsets, packets, &error))
            return Fail("The disc cannot be made: " + TrimNewlines(error));
        // The first album starts the track (its default entry); the others are further entries.
        trackEntries_.assign(packets.begin() + (packets.empty() ? 0 : 1), packets.end());
        return !cancel_.IsSet() || Cancelled();
    }

    bool AuthoringStage()
    {
        if (cancel_.IsSet())
            return Cancelled();
        Post(UM_AUTHORING_BEGIN);
        const int slideCount = static_cast<int>(slides_.size());
        LayoutProject layoutProject;
        layoutProject.cdLabel = CutUtf8(plan_.cdLabel, kMaxCdLabelBytes);
        layoutProject.albumsPerPage = itemsPerPage_;
        layoutProject.albumPictureCounts = plan_.PictureCounts();
        layoutProject.workFolder = temp_;
        layoutProject.programFolder = program_;
        layoutProject.norm = plan_.norm;
        if (slideshow_) {
            layoutProject.trackPath = slideshowTrack_;
            layoutProject.trackEntryPackets = trackEntries_;
        }
        std::unique_ptr<VideoCdLayout> layout = BuildProjectLayout(layoutProject);
        // The layout leaves out what it cannot read; a disc without one of its segments
        // would have dead links, so that is a failure here.
        if (layout->segments.size() != static_cast<std::size_t>(pages_ + slideCount)) {
            for (int page = 0; page < pages_; ++page)
                if (LookupIdentifier(*layout, SegmentIdentifier(page)).kind != IdentifierKind::Segment)
                    return Fail("The disc cannot be made: " + Format(kMenuSegmentFormat, temp_.c_str(), page + 1) +
                                " is not a usable still segment.");
            for (int s = 0; s < slideCount; ++s)
                if (LookupIdentifier(*layout, SegmentIdentifier(pages_ + s)).kind != IdentifierKind::Segment)
                    return Fail("The disc cannot be made: " +
                                Format(kSlideSegmentFormat, temp_.c_str(),
                                       slides_[static_cast<std::size_t>(s)].album + 1,
                                       slides_[static_cast<std::size_t>(s)].position + 1) +
                                " is not a usable still segment.");
            return Fail("The disc cannot be made: a segment file of the run could not be used.");
        }
        if (layout->sequences.size() != 1)
            return Fail("The disc cannot be made: " + (slideshow_ ? slideshowTrack_ : track_) +
                        " is not a usable MPEG track" + (slideshow_ ? "." : "; reinstall Lumivox!"));
        if (slideshow_ && layout->sequences.front().entries.size() != trackEntries_.size())
            return Fail("The disc cannot be made: the slideshow track's chapters could not be placed.");
        const long total = ComputeLayout(*layout);
        if (total < 0)
            return Fail("The disc cannot be made: " + TrimNewlines(layout->errorText));
        result_.totalSectors = static_cast<std::int32_t>(total);
        totalSectors_ = result_.totalSectors;

        const bool reportWriting = p_.writeReporting == WriteReporting::ByRun;
        if (reportWriting)
            Post(UM_WRITE_PROGRESS, 0, total);
        const WriteProgressCallback progress = [&](std::uint64_t written, std::uint64_t all) {
            if (cancel_.IsSet())
                return 1;
            if (reportWriting)
                Post(UM_WRITE_PROGRESS, static_cast<std::int64_t>(written), static_cast<std::int64_t>(all));
            return 0;
        };
        const int written = WriteImage(*layout, *p_.sink, progress);
        const std::string writeError = layout->errorText;
        FinishLayout(*layout);
        DestroyLayout(layout);
        if (written != 0) {
            if (cancel_.IsSet())
                return Cancelled();
            return Fail("The disc image could not be written: " +
                        TrimNewlines(writeError.empty() ? std::string("the image sink failed") : writeError));
        }
        if (reportWriting)
            Post(UM_WRITE_PROGRESS, total, total);
        return true;
    }

    const ProductionParameters& p_;
    const ProductionPlan& plan_;
    const ManualResetEvent& cancel_;
    ProductionObserver* observer_;
    std::atomic<std::int32_t>& totalSectors_;
    ProductionResult result_;

    int itemsPerPage_ = 0;
    int pages_ = 0;
    std::string temp_, program_, companion_, track_, music_;
    std::vector<MenuAlbum> menuAlbums_;
    std::vector<SlideRef> slides_;
    std::unique_ptr<SlideCovers> covers_;
    std::vector<bool> coverFromSlide_; // per album: its cover comes from its first slide
    bool slideshow_ = false; // the MPEG track is the slideshow
    SlideshowTimeline timeline_;
    std::string slideshowTrack_;
    std::vector<std::uint32_t> trackEntries_;
    std::string audioError_; // written by audio_ only, read once it has ended
    // Encodes the track's sound; joined by TrackStage, or here (last, so that everything
    // it reads is still there) when the run ends before.
    std::jthread audio_;
};

ProductionJob::ProductionJob(ProductionParameters parameters)
    : parameters_(std::move(parameters)), cancel_(parameters_.cancel ? parameters_.cancel : &ownCancel_)
{ }

ProductionJob::~ProductionJob()
{
    Wait();
}

bool ProductionJob::Start(ProductionObserver* observer)
{
    if (started_.exchange(true))
        return false;
    thread_ = std::jthread([this, observer] {
        result_ = Execute(observer);
        if (observer)
            observer->OnFinished(result_);
        finished_ = true;
    });
    return true;
}

void ProductionJob::Wait()
{
    if (thread_.joinable())
        thread_.join();
}

ProductionResult ProductionJob::Run(ProductionObserver* observer)
{
    if (started_.exchange(true)) {
        ProductionResult refused;
        refused.message = "The production run has already been started.";
        return refused;
    }
    result_ = Execute(observer);
    if (observer)
        observer->OnFinished(result_);
    finished_ = true;
    return result_;
}

void ProductionJob::Cancel()
{
    cancel_->Set();
}

ProductionResult ProductionJob::Execute(ProductionObserver* observer)
{
    class Run run(parameters_, *cancel_, observer, totalSectors_);
    return run.Execute();
}

} // namespace lumivox
