// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Opening a project file without freezing the window: the file is read and its pictures
// decoded on a worker thread (DecodeProjectFile), progress and the result come back as
// queued signals, and the caller applies the result to the project on the UI thread.

#include "logic/BackgroundDecode.h"
#include "project/AlbumTable.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <memory>
#include <thread>

namespace lumivox::ui {

class ProjectOpener final : public QObject {
    Q_OBJECT
public:
    explicit ProjectOpener(QObject* parent = nullptr);

    // Starts decoding path; decoder replaces the reduced-mode reader when set (tests).
    // freeAlbumSlots is what the project can take once it is emptied. A decode already
    // running is cancelled and its result dropped.
    void Start(const QString& path, PictureDecoder decoder = {}, int freeAlbumSlots = MAX_ALBUMS);
    // Asks the worker to stop; finished() still comes, with a cancelled result.
    void Cancel() { decode_.Cancel(); }
    bool IsRunning() const { return decode_.IsRunning(); }

signals:
    // Pictures decoded so far out of total; throttled to changes of the whole percentage.
    void progress(int done, int total);
    // The decode ended; the result is applied by the receiver on the UI thread.
    void finished(const QString& path, std::shared_ptr<lumivox::DecodedProject> result);

private:
    BackgroundDecode decode_{this};
};

} // namespace lumivox::ui
