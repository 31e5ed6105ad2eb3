#include "ui/ProjectOpener.h"

#include <QMetaObject>

namespace lumivox::ui {

ProjectOpener::ProjectOpener(QObject* parent) : QObject(parent)
{
    qRegisterMetaType<std::shared_ptr<lumivox::DecodedProject>>();
}

ProjectOpener::~ProjectOpener()
{
    Cancel();
    if (worker_.joinable())
        worker_.join();
}

void ProjectOpener::Cancel()
{
    if (cancel_)
        cancel_->store(true);
}

void ProjectOpener::Start(const QString& path, PictureDecoder decoder, int freeAlbumSlots)
{
    Cancel();
    if (worker_.joinable())
        worker_.join();
    cancel_ = std::make_shared<std::atomic<bool>>(false);
    running_ = true;
    const unsigned generation = ++generation_;

    worker_ = std::jthread([this, generation, path, decoder = std::move(decoder), freeAlbumSlots,
                            cancel = cancel_](std::stop_token) {
        ProjectDecodeOptions options;
        options.loading = PictureLoading::Eager;
        options.freeAlbumSlots = freeAlbumSlots;
        options.decoder = decoder;
        options.cancel = cancel.get();
        // The decoding threads report one at a time; only whole-percent steps are posted
        // so that a project of thousands of pictures does not flood the event queue.
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
        auto result = std::make_shared<DecodedProject>(DecodeProjectFile(path.toStdString(), options));
        if (cancel->load())
            result->cancelled = true;
        // The opener outlives its thread (the destructor joins), so posting to it is safe;
        // Qt drops the call if the opener is destroyed before it runs.
        QMetaObject::invokeMethod(this, [this, generation, path, result] {
            if (generation != generation_)
                return;
            running_ = false;
            emit finished(path, result);
        }, Qt::QueuedConnection);
    });
}

} // namespace lumivox::ui
