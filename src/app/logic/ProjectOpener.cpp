// SPDX-License-Identifier: GPL-2.0-or-later
#include "logic/ProjectOpener.h"

namespace lumivox::ui {

ProjectOpener::ProjectOpener(QObject* parent) : QObject(parent)
{
    qRegisterMetaType<std::shared_ptr<lumivox::DecodedProject>>();
}

void ProjectOpener::Start(const QString& path, PictureDecoder decoder, int freeAlbumSlots)
{
    ProjectDecodeOptions options;
    options.loading = PictureLoading::Eager;
    options.freeAlbumSlots = freeAlbumSlots;
    options.decoder = std::move(decoder);
    const std::string file = path.toStdString();
    decode_.Start([file](const ProjectDecodeOptions& o) { return DecodeProjectFile(file, o); }, std::move(options),
                  [this](int done, int total) { emit progress(done, total); },
                  [this, path](std::shared_ptr<DecodedProject> result) { emit finished(path, std::move(result)); });
}

} // namespace lumivox::ui
