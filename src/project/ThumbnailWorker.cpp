// SPDX-License-Identifier: GPL-2.0-or-later
#include "project/ThumbnailWorker.h"

#include "picture/ExifOrientation.h"
#include "picture/PicReader.h"
#include "picture/PicResizer.h"

#include <exception>

namespace lumivox {

ThumbnailWorker::ThumbnailWorker(ThumbnailCache& cache, PictureDecoder decoder)
    : cache_(cache), decoder_(std::move(decoder))
{ }

ThumbnailWorker::~ThumbnailWorker()
{
    Stop();
}

void ThumbnailWorker::Stop()
{
    if (!thread_.joinable())
        return;
    thread_.request_stop();
    thread_.join();
    thread_ = {};
}

void ThumbnailWorker::Start(std::vector<std::string> paths, unsigned generation, ResultSink result, DoneSink done)
{
    Stop();
    ended_ = false;
    thread_ = std::jthread([this, paths = std::move(paths), generation, result = std::move(result),
                            done = std::move(done)](std::stop_token stop) {
        PicReader reader; // one reader per thread
        reader.SetMode(DecodeMode::Reduced);
        for (std::size_t row = 0; row < paths.size(); ++row) {
            if (stop.stop_requested())
                break;
            const std::string& path = paths[row];
            if (std::optional<CachedThumbnail> cached = cache_.Lookup(path)) {
                result(generation, static_cast<int>(row), std::move(cached->thumbnail), cached->placement);
                continue;
            }
            std::shared_ptr<const PicBitmap> made;
            ThumbnailPlacement placement;
            try {
                PicBitmap picture;
                if (decoder_)
                    decoder_(path, picture);
                else
                    reader.DecodeFile(path, picture, 32);
                // A camera's portrait photo lies on its side in the file: the list shows it
                // standing, as the slide made of it will (HEIF decodes upright by itself).
                if (const int turn = RotationForOrientation(ReadJpegOrientation(path)); turn != 0) {
                    PicBitmap upright;
                    RotateBitmap(picture, turn, upright);
                    picture = std::move(upright);
                }
                MakeThumbnail(picture, kSmallThumbnailSize, kSmallThumbnailSize, made, placement);
                cache_.Store(path, made, placement);
            } catch (const std::exception&) {
                // A file that does not decode keeps its row without a thumbnail.
                made.reset();
                placement = {};
            }
            result(generation, static_cast<int>(row), std::move(made), placement);
        }
        if (done)
            done(generation, stop.stop_requested());
        ended_ = true;
    });
}

} // namespace lumivox
