// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Adding many pictures to an album without freezing the window: the files are decoded on
// workers (DecodeProjectListing, in the order given whatever order the decodes finish
// in), with progress and the result coming back as queued signals; the receiver adds the
// decoded pictures to the project on the user-interface thread.

#include "logic/BackgroundDecode.h"
#include "project/AlbumTable.h"

#include <QObject>
#include <QStringList>

#include <atomic>
#include <memory>
#include <thread>

namespace lumivox::ui {

class PictureAdder final : public QObject {
    Q_OBJECT
public:
    explicit PictureAdder(QObject* parent = nullptr);

    // Starts decoding paths. With autoOrient, a JPEG whose EXIF orientation says it is
    // turned gets that turn as its rotation. decoder replaces the reduced-mode reader
    // (tests). A decode already running is cancelled and its result dropped.
    void Start(const QStringList& paths, bool autoOrient, PictureDecoder decoder = {});
    void Cancel() { decode_.Cancel(); }
    bool IsRunning() const { return decode_.IsRunning(); }

signals:
    void progress(int done, int total);
    // The pictures in the order given (those that failed carry their reason).
    void finished(std::shared_ptr<lumivox::DecodedProject> result);

private:
    BackgroundDecode decode_{this};
};

} // namespace lumivox::ui
