// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The set-up of the CD recorders, run at start and again after the Options dialog: find
// the drives, keep the chosen one, make its recorder driver, and give the status-bar text.
//
// This file is the one seam between the desktop program and the recorder library: the
// set-up steps live in RecorderSetup; the drive scan and the driver creation are asked of
// a RecorderBackend. MakeSystemRecorderBackend() is where the SG_IO drive list (and the
// emulated recorder of LUMIVOX_EMULATED_RECORDER) is connected.

#include "logic/DriveTasks.h"
#include "logic/OwnerLink.h"
#include "project/Settings.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace lumivox::ui {

// One CD drive as the scan reports it.
struct RecorderDrive {
    std::string vendor;
    std::string product;
    std::string revision;
    int adapter = 0;
    int target = 0;
    int unit = 0;
    // The name the recorder library opens the drive by (a device node such as /dev/sr0,
    // or the emulated recorder's "emulated:DIR?..."): the burn page burns and checks
    // discs through it.
    std::string device;
};

class RecorderBackend {
public:
    virtual ~RecorderBackend() = default;
    // Opens the transport; false when it cannot be made ("Error while new SCSIDriver").
    virtual bool OpenTransport() = 0;
    // The writers found.
    virtual std::vector<RecorderDrive> ScanDrives() = 0;
    // Makes the recorder driver for drive in writingMode (0 asks the drive database);
    // false when no driver could be made.
    virtual bool CreateDriver(const RecorderDrive& drive, int writingMode) = 0;
    // Drops the driver and the transport.
    virtual void Release() = 0;
};

// The backend of the running program.
std::unique_ptr<RecorderBackend> MakeSystemRecorderBackend();

inline constexpr const char* kMsgNoWriter = QT_TRANSLATE_NOOP("lumivox::core", "No CD-Writer is Found");
inline constexpr const char* kMsgTransportFailed = QT_TRANSLATE_NOOP("lumivox::core", "Error while new SCSIDriver");
inline constexpr const char* kMsgDriverFailed = QT_TRANSLATE_NOOP("lumivox::core", "Error while new CDRDriver.");

enum class RecorderSetupResult {
    Ready, // a writer and its driver exist
    NoWriter, // no writer found; the program goes on without one
    TransportFailed, // kMsgTransportFailed is to be shown
    DriverFailed, // kMsgDriverFailed is to be shown
};

// What a look for the recorders found: made off the window's thread, taken on it.
struct RecorderLook {
    bool transportOk = true;
    std::vector<RecorderDrive> drives;
    int selected = -1; // the drive the driver was made for
    bool driverOk = false;
};

// A new driver to be made for a drive: begun on the window's thread, made on a worker.
struct DriverRequest {
    RecorderDrive drive;
    int writingMode = 0;
    unsigned serial = 0; // only the newest request's outcome is taken
};

class RecorderSetup {
public:
    explicit RecorderSetup(std::unique_ptr<RecorderBackend> backend);
    ~RecorderSetup();

    // The whole set-up at once: drops what exists, opens the transport, scans, corrects
    // the stored recorder index and writing mode in settings, makes the driver.
    RecorderSetupResult SetUp(Settings& settings);

    // The same in three steps, so that the drives are looked for on a worker (each one is
    // asked what it is, which a drive spinning up answers in seconds):
    // window's thread: the look begins; until it is adopted the drive list is empty and
    // drive changes are refused (the backend is the look's).
    void BeginLook();
    bool IsLooking() const { return looking_; }
    // Any thread, once begun: the look itself, for the drive index and writing mode the
    // settings held when it began (the first drive when that one is gone).
    RecorderLook Look(int wantedIndex, int writingMode);
    // Window's thread: takes what the look found and corrects the settings.
    RecorderSetupResult Adopt(RecorderLook look, Settings& settings);

    // The burn page's drive list chose index (a different drive, stored in the "recorder"
    // setting), or the writing mode changed for the selected drive (force): the drive gets
    // a new driver, made on the set-up's worker (making it asks the drive what it is, which
    // a drive spinning up answers in seconds). Window's thread: the drive is selected at
    // once and has no driver until done runs, on the thread of link's owner, with the
    // outcome. False (done never runs) when nothing changes: the drives are being looked
    // for, index is outside the list, or it is the drive already selected and force is not
    // set.
    bool ChangeDriverLater(Settings& settings, int index, bool force, OwnerLinkPtr link,
                           std::function<void(RecorderSetupResult)> done);
    // A driver is being made on the worker.
    bool IsMakingDriver() const { return makingDriver_; }

    // The steps of the changes. Window's thread: begins one (nullopt as above).
    std::optional<DriverRequest> BeginDriverChange(Settings& settings, int index, bool force);
    // Any thread: makes the driver (one backend call at a time, looks included).
    bool MakeDriver(const DriverRequest& request);
    // Window's thread: takes the outcome when request is the newest.
    RecorderSetupResult AdoptDriver(const DriverRequest& request, bool ok);
    // The selected drive's index into Drives(), -1 when none; and the drive itself.
    int SelectedIndex() const { return selected_; }
    const RecorderDrive* SelectedDrive() const;

    bool HasDriver() const { return hasDriver_; }
    const std::vector<RecorderDrive>& Drives() const { return drives_; }
    // The burn page's drive list: vendor, product and "(%d:%d:%d)" joined by "%s%s%s".
    QStringList DriveList() const;
    // Status part 1: "Device: %s  %s" with the selected drive, or "No CD-Writer is Found".
    QString DeviceStatus() const;

private:
    RecorderSetupResult State() const;

    std::unique_ptr<RecorderBackend> backend_;
    std::mutex backendMutex_; // a look and a driver change never meet in the backend
    std::vector<RecorderDrive> drives_;
    int selected_ = -1;
    bool hasDriver_ = false;
    bool looking_ = false;
    bool makingDriver_ = false;
    unsigned driverSerial_ = 0;
    // Made last, ended first: a driver change still running ends before the backend goes.
    std::unique_ptr<DriveTasks> worker_ = std::make_unique<DriveTasks>();
};

} // namespace lumivox::ui
