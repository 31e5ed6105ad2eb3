#include "ui/PictureAdder.h"

#include "picture/ExifOrientation.h"

#include <QMetaObject>

namespace lumivox::ui {

PictureAdder::PictureAdder(QObject* parent) : QObject(parent)
{
    qRegisterMetaType<std::shared_ptr<lumivox::DecodedProject>>();
}

PictureAdder::~PictureAdder()
{
    Cancel();
    if (worker_.joinable())
        worker_.join();
}

void PictureAdder::Cancel()
{
    if (cancel_)
        cancel_->store(true);
}

void PictureAdder::Start(const QStringList& paths, bool autoOrient, PictureDecoder decoder)
{
    Cancel();
    if (worker_.joinable())
        worker_.join();
    cancel_ = std::make_shared<std::atomic<bool>>(false);
    running_ = true;
    const unsigned generation = ++generation_;
    std::vector<std::string> files;
    for (const QString& path : paths)
        files.push_back(path.toStdString());

    worker_ = std::jthread([this, generation, files = std::move(files), autoOrient, decoder = std::move(decoder),
                            cancel = cancel_](std::stop_token) {
        ProjectListing listing;
        listing.albums.emplace_back();
        for (const std::string& file : files) {
            // A camera's portrait photo is stored lying on its side with the turn in its
            // EXIF block; the turn becomes the picture's rotation, shown and saved as any
            // rotation the user makes.
            const int rotation = autoOrient ? RotationForOrientation(ReadJpegOrientation(file)) : 0;
            listing.albums.front().pictures.push_back({file, rotation});
        }
        ProjectDecodeOptions options;
        options.loading = PictureLoading::Eager;
        options.freeAlbumSlots = 1;
        options.decoder = decoder;
        options.cancel = cancel.get();
        int lastPercent = -1;
        options.progress = [this, generation, &lastPercent](int done, int total) {
            const int percent = total > 0 ? done * 100 / total : 100;
            if (percent == lastPercent)
                return;
            lastPercent = percent;
            QMetaObject::invokeMethod(this, [this, generation, done, total] {
                if (generation == generation_)
                    emit progress(done, total);
            }, Qt::QueuedConnection);
        };
        auto result = std::make_shared<DecodedProject>(DecodeProjectListing(std::move(listing), options));
        if (cancel->load())
            result->cancelled = true;
        QMetaObject::invokeMethod(this, [this, generation, result] {
            if (generation != generation_)
                return;
            running_ = false;
            emit finished(result);
        }, Qt::QueuedConnection);
    });
}

} // namespace lumivox::ui
