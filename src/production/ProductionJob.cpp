#include "production/ProductionJob.h"

#include "base/Paths.h"
#include "base/TextUtil.h"
#include "picture/PLTextException.h"
#include "picture/QtGuiHost.h"
#include "production/FrameWorkers.h"
#include "production/Multiplexer.h"
#include "production/MusicConversion.h"
#include "production/StillEncoder.h"
#include "project/AlbumTable.h"
#include "vcd/ImageSink.h"
#include "vcd/VideoCdLayout.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <new>
#include <unistd.h>

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

// The encoder and multiplexer failure: the fixed text and what went wrong.
std::string EncoderFailure(const std::string& detail)
{
    return std::string(kMsgEncoderFailure) + "\n" + TrimNewlines(detail);
}

// A file the run needs from the program folder: readable, or the reason.
bool CheckReadable(const std::string& path, std::string* reason)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *reason = path + ": " + std::strerror(errno);
        return false;
    }
    ::close(fd);
    return true;
}

// The temporary folder must take files before anything is made; the still file of
// worker 0 is the run's first file anyway, so it serves as the probe.
bool CheckWritable(const std::string& path, std::string* reason)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        *reason = path + ": " + std::strerror(errno);
        return false;
    }
    ::close(fd);
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

// The run's observer calls, with the parameters the messages carry.
class Reporter {
public:
    explicit Reporter(ProductionObserver* observer) : observer_(observer) {}
    void Post(ProgressMessage message, std::int64_t first = 0, std::int64_t second = 0) const
    {
        if (observer_)
            observer_->OnProgress(MakeProgressEvent(message, first, second));
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

private:
    ProductionObserver* observer_;
};

struct SlideRef {
    int album = 0;    // from 0
    int position = 0; // from 0 within the album
};

} // namespace

int ProductionMenuPages(int albumCount, int itemsPerPage)
{
    if (albumCount <= 0 || itemsPerPage < 1)
        return 0;
    return albumCount / itemsPerPage + (albumCount % itemsPerPage ? 1 : 0);
}

int ProductionWorkerCount(int jobs, int frames)
{
    int workers = jobs;
    if (workers <= 0) {
        const unsigned cores = std::thread::hardware_concurrency();
        workers = std::clamp(static_cast<int>(cores), 1, kMaxDefaultWorkers);
    }
    workers = std::min(workers, kMaxWorkers);
    return std::max(1, std::min(workers, frames));
}

bool SetMenuFromState(const DiscMenuState& state, ProductionParameters& parameters, std::string* error)
{
    MenuTemplate menuTemplate;
    if (!state.LoadCurrentTemplate(menuTemplate, error))
        return false;
    parameters.menuTemplate = std::move(menuTemplate);
    parameters.itemsPerPage = state.EntriesPerPage();
    parameters.backgroundOverride = state.BackgroundOverride();
    parameters.musicPath = state.BackgroundMusic();
    return true;
}

ProductionJob::ProductionJob(ProductionParameters parameters)
    : parameters_(std::move(parameters)), cancel_(parameters_.cancel ? parameters_.cancel : &ownCancel_)
{
}

ProductionJob::~ProductionJob()
{
    Wait();
}

bool ProductionJob::Start(ProductionObserver* observer)
{
    if (started_.exchange(true))
        return false;
    thread_ = std::thread([this, observer] {
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
    ProductionResult result;
    auto fail = [&result](std::string message) {
        result.status = ProductionStatus::Failed;
        result.message = std::move(message);
        return result;
    };
    auto cancelled = [&result] {
        result.status = ProductionStatus::Cancelled;
        result.message = kMsgCancelled;
        return result;
    };
    try {
        const Reporter report(observer);
        const ProductionParameters& p = parameters_;
        const ManualResetEvent& cancel = *cancel_;
        totalSectors_ = 0;

        // Everything that can be known to be wrong is refused before a file is written.
        if (!p.project)
            return fail("The production run was given no project.");
        if (!p.sink)
            return fail("The production run was given nowhere to write the disc image.");
        const AlbumTable& project = *p.project;
        const int albumCount = p.albumCount < 0 ? project.AlbumCount() : p.albumCount;
        if (albumCount > project.AlbumCount() || albumCount > MAX_ALBUMS)
            return fail(Format("The production run was asked for %d albums; the project has %d.",
                               albumCount, project.AlbumCount()));
        const int itemsPerPage = p.itemsPerPage == 0 ? p.menuTemplate.itemsCount : p.itemsPerPage;
        if (itemsPerPage < 1)
            return fail(p.menuTemplate.path + ": the menu template has no menu entries (\"Items_count\" is " +
                        std::to_string(p.menuTemplate.itemsCount) + "); choose another template.");
        if (itemsPerPage != p.menuTemplate.itemsCount)
            return fail(Format("%s: the menu template shows %d entries per page, not %d.",
                               p.menuTemplate.path.c_str(), p.menuTemplate.itemsCount, itemsPerPage));

        const std::string temp = WithTrailingSlash(p.tempFolder.empty() ? std::string("./") : p.tempFolder);
        const std::string program = WithTrailingSlash(p.programFolder.empty() ? ProgramFolder() : p.programFolder);
        const bool pal = p.norm == TvNorm::Pal;
        const std::string companion = Format(pal ? kPalCompanionFormat : kNtscCompanionFormat, program.c_str());
        const std::string track = Format(pal ? kPalTrackFormat : kNtscTrackFormat, program.c_str());
        std::string reason;
        if (!CheckReadable(companion, &reason) || !CheckReadable(track, &reason))
            return fail(EncoderFailure(reason));
        if (!CreateFolder(temp))
            return fail(EncoderFailure(temp + ": the temporary folder cannot be created"));
        const std::string firstStill = Format(kStillFileFormat, temp.c_str());
        if (!CheckWritable(firstStill, &reason))
            return fail(EncoderFailure(reason));

        // Inputs of the stages, taken from the project once.
        std::vector<MenuAlbum> menuAlbums;
        std::vector<int> pictureCounts;
        std::vector<SlideRef> slides;
        for (int a = 0; a < albumCount; ++a) {
            const AlbumInfo& album = project.Album(a);
            const PictureItem* cover = album.Cover();
            menuAlbums.push_back({album.name, album.PictureCount() > 0, cover ? cover->slideThumbnail.get() : nullptr});
            pictureCounts.push_back(album.PictureCount());
            for (int q = 0; q < album.PictureCount(); ++q)
                slides.push_back({a, q});
        }
        const int pages = ProductionMenuPages(albumCount, itemsPerPage);
        const int slideCount = static_cast<int>(slides.size());
        result.albums = albumCount;
        result.pictures = slideCount;
        result.menuPages = pages;
        const EncoderNorm encoderNorm = pal ? EncoderNorm::Pal : EncoderNorm::Ntsc;
        auto stillPaths = [&temp](int workers) {
            std::vector<std::string> paths;
            for (int w = 0; w < workers; ++w)
                paths.push_back(w == 0 ? Format(kStillFileFormat, temp.c_str())
                                       : Format(kWorkerStillFileFormat, temp.c_str(), w));
            return paths;
        };

        // The program makes its graphics application on its main thread; a run never
        // creates one from its own thread.
        if (pages > 0 && !HasGuiApplication())
            return fail(kMsgNoGuiApplication);

        report.Post(UM_MENU_ENCODE_BEGIN);

        // Menu music.
        std::string music;
        if (!p.musicPath.empty()) {
            music = Format(kMenuMusicFormat, temp.c_str());
            CancelFlag cancelFlag(cancel);
            std::string error;
            if (!ConvertBackgroundMusic(music, p.musicPath, temp, &error, cancelFlag.Flag())) {
                if (cancel.IsSet())
                    return cancelled();
                report.Post(UM_MENU_ENCODE_FAILED);
                return fail("The menu music could not be converted: " +
                            TrimNewlines(error.empty() ? p.musicPath : error));
            }
        }

        // Menu pages.
        if (pages > 0) {
            const int workers = ProductionWorkerCount(p.jobs, pages);
            result.workers = workers;
            auto makePage = [&](std::size_t index, const std::string& stillPath) {
                FrameOutcome outcome;
                const int page = static_cast<int>(index);
                PicBitmap frame;
                std::string error;
                bool drawn;
                drawn = RenderMenuFrame(p.menuTemplate, p.backgroundOverride, menuAlbums, page * itemsPerPage,
                                        p.norm, frame, &error);
                if (!drawn)
                    outcome.warning = Format("Menu page %d is black: ", page + 1) + TrimNewlines(error);
                if (!EncodeStill(frame, encoderNorm, stillPath, &error)) {
                    outcome.error = Format("menu page %d: ", page + 1) + TrimNewlines(error);
                    return outcome;
                }
                // The multiplexer is called as its command line would be: "mplex", the
                // segment, the still, the companion and, only with music, the music.
                std::vector<std::string> arguments = {"mplex", Format(kMenuSegmentFormat, temp.c_str(), page + 1),
                                                      stillPath, companion};
                if (!music.empty())
                    arguments.push_back(music);
                if (MultiplexMain(arguments, &error) != 0) {
                    outcome.error = Format("menu page %d: ", page + 1) + TrimNewlines(error);
                    return outcome;
                }
                outcome.ok = true;
                return outcome;
            };
            FrameWorkers pool(static_cast<std::size_t>(pages), stillPaths(workers), makePage, cancel);
            for (int page = 0; page < pages; ++page) {
                if (cancel.IsSet())
                    return cancelled();
                const FrameOutcome* outcome = pool.WaitFor(static_cast<std::size_t>(page));
                if (!outcome)
                    return cancelled();
                if (!outcome->warning.empty())
                    report.Warn(outcome->warning);
                if (!outcome->ok) {
                    pool.Stop();
                    report.Post(UM_MENU_ENCODE_FAILED);
                    return fail(EncoderFailure(outcome->error));
                }
                report.Post(UM_MENU_PAGE_PROGRESS, page + 1, pages);
            }
        }
        report.Post(UM_MENU_ENCODE_END);

        // Slides.
        if (slideCount > 0) {
            const int workers = ProductionWorkerCount(p.jobs, slideCount);
            result.workers = std::max(result.workers, workers);
            auto makeSlide = [&](std::size_t index, const std::string& stillPath) {
                FrameOutcome outcome;
                const SlideRef& slide = slides[index];
                const PictureItem& picture = project.Picture(slide.album, slide.position);
                PicBitmap frame;
                try {
                    RenderSlideFrame(picture.path, picture.rotated ? picture.rotation : 0, p.norm, frame);
                } catch (const PLTextException& e) {
                    outcome.unreadable = picture.path + ": " + TrimNewlines(e.GetText());
                } catch (const std::bad_alloc&) {
                    outcome.unreadable = picture.path + ": not enough memory to decode the picture";
                }
                if (!outcome.unreadable.empty()) {
                    frame = BlackFrame(p.norm);
                    outcome.warning = outcome.unreadable +
                                      Format(" (album %02d, picture %02d goes on the disc as a black frame)",
                                             slide.album + 1, slide.position + 1);
                }
                std::string error;
                const std::string segment =
                    Format(kSlideSegmentFormat, temp.c_str(), slide.album + 1, slide.position + 1);
                if (!EncodeStill(frame, encoderNorm, stillPath, &error) ||
                    MultiplexStill(segment, stillPath, companion, &error) != 0) {
                    outcome.error = Format("album %02d, picture %02d: ", slide.album + 1, slide.position + 1) +
                                    TrimNewlines(error);
                    return outcome;
                }
                outcome.ok = true;
                return outcome;
            };
            // Nothing is started once the event is set; what is under way finishes.
            if (cancel.IsSet())
                return cancelled();
            FrameWorkers pool(static_cast<std::size_t>(slideCount), stillPaths(workers), makeSlide, cancel);
            for (int s = 0; s < slideCount; ++s) {
                if (cancel.IsSet()) {
                    pool.Stop();
                    return cancelled();
                }
                report.Post(UM_SLIDE_PROGRESS, s, slideCount);
                const FrameOutcome* outcome = pool.WaitFor(static_cast<std::size_t>(s));
                if (!outcome)
                    return cancelled();
                if (!outcome->warning.empty())
                    report.Warn(outcome->warning);
                if (!outcome->unreadable.empty())
                    result.unreadablePictures.push_back(outcome->unreadable);
                if (!outcome->ok) {
                    pool.Stop();
                    return fail(EncoderFailure(outcome->error));
                }
            }
        }

        // Authoring.
        if (cancel.IsSet())
            return cancelled();
        report.Post(UM_AUTHORING_BEGIN);
        LayoutProject layoutProject;
        layoutProject.cdLabel = CutUtf8(p.cdLabel, kMaxCdLabelBytes);
        layoutProject.albumsPerPage = itemsPerPage;
        layoutProject.albumPictureCounts = pictureCounts;
        layoutProject.workFolder = temp;
        layoutProject.programFolder = program;
        layoutProject.pal = pal;
        std::unique_ptr<VideoCdLayout> layout = BuildProjectLayout(layoutProject);
        // The layout leaves out what it cannot read; a disc without one of its segments
        // would have dead links, so that is a failure here.
        if (layout->segments.size() != static_cast<std::size_t>(pages + slideCount)) {
            for (int page = 0; page < pages; ++page)
                if (LookupIdentifier(*layout, SegmentIdentifier(page)).kind != IdentifierKind::Segment)
                    return fail("The disc cannot be made: " + Format(kMenuSegmentFormat, temp.c_str(), page + 1) +
                                " is not a usable still segment.");
            for (int s = 0; s < slideCount; ++s)
                if (LookupIdentifier(*layout, SegmentIdentifier(pages + s)).kind != IdentifierKind::Segment)
                    return fail("The disc cannot be made: " +
                                Format(kSlideSegmentFormat, temp.c_str(), slides[s].album + 1, slides[s].position + 1) +
                                " is not a usable still segment.");
            return fail("The disc cannot be made: a segment file of the run could not be used.");
        }
        if (layout->sequences.size() != 1)
            return fail("The disc cannot be made: " + track + " is not a usable MPEG track; reinstall Lumivox!");
        const long total = ComputeLayout(*layout);
        if (total < 0)
            return fail("The disc cannot be made: " + TrimNewlines(layout->errorText));
        result.totalSectors = static_cast<std::int32_t>(total);
        totalSectors_ = result.totalSectors;

        const bool reportWriting = p.writeReporting == WriteReporting::ByRun;
        if (reportWriting)
            report.Post(UM_WRITE_PROGRESS, 0, total);
        const WriteProgressCallback progress = [&](std::uint64_t written, std::uint64_t all) {
            if (cancel.IsSet())
                return 1;
            if (reportWriting)
                report.Post(UM_WRITE_PROGRESS, static_cast<std::int64_t>(written), static_cast<std::int64_t>(all));
            return 0;
        };
        const int written = WriteImage(*layout, *p.sink, progress);
        const std::string writeError = layout->errorText;
        FinishLayout(*layout);
        DestroyLayout(layout);
        if (written != 0) {
            if (cancel.IsSet())
                return cancelled();
            return fail("The disc image could not be written: " +
                        TrimNewlines(writeError.empty() ? std::string("the image sink failed") : writeError));
        }
        if (reportWriting)
            report.Post(UM_WRITE_PROGRESS, total, total);
        result.status = ProductionStatus::Finished;
        result.message.clear();
        return result;
    } catch (const std::bad_alloc&) {
        return fail("The production run ran out of memory.");
    } catch (const std::exception& e) {
        return fail(std::string("The production run failed: ") + e.what());
    }
}


} // namespace lumivox
