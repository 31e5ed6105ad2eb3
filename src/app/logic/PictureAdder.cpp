// SPDX-License-Identifier: GPL-2.0-or-later
#include "logic/PictureAdder.h"

#include "picture/ExifOrientation.h"

namespace lumivox::ui {

PictureAdder::PictureAdder(QObject* parent) : QObject(parent)
{
    qRegisterMetaType<std::shared_ptr<lumivox::DecodedProject>>();
}

void PictureAdder::Start(const QStringList& paths, bool autoOrient, PictureDecoder decoder)
{
    std::vector<std::string> files;
    for (const QString& path : paths)
        files.push_back(path.toStdString());
    ProjectDecodeOptions options;
    options.loading = PictureLoading::Eager;
    options.freeAlbumSlots = 1;
    options.decoder = std::move(decoder);
    auto job = [files = std::move(files), autoOrient](const ProjectDecodeOptions& o) {
        ProjectListing listing;
        listing.albums.emplace_back();
        for (const std::string& file : files) {
            // A camera's portrait photo is stored lying on its side with the turn in its
            // EXIF block; the turn becomes the picture's rotation, shown and saved as any
            // rotation the user makes.
            const int rotation = autoOrient ? RotationForOrientation(ReadJpegOrientation(file)) : 0;
            listing.albums.front().pictures.push_back({file, rotation});
        }
        return DecodeProjectListing(std::move(listing), o);
    };
    decode_.Start(
        std::move(job), std::move(options), [this](int done, int total) { emit progress(done, total); },
        [this](std::shared_ptr<DecodedProject> result) { emit finished(std::move(result)); });
}

} // namespace lumivox::ui
