// SPDX-License-Identifier: GPL-2.0-or-later
#include "services/RecorderSetup.h"

#include "logic/CoreText.h"

#include "recorder/DriveDatabase.h"
#include "recorder/RecorderDriver.h"
#include "recorder/Scsi.h"

namespace lumivox::ui {

namespace {

// The recorders of this machine: the CD writers that SG_IO finds through sysfs, and the
// emulated recorder that LUMIVOX_EMULATED_RECORDER names.
class SystemRecorderBackend final : public RecorderBackend {
public:
    bool OpenTransport() override { return true; } // SG_IO needs no set-up of its own
    std::vector<RecorderDrive> ScanDrives() override
    {
        std::vector<RecorderDrive> writers;
        for (const DeviceRecord& record : EnumerateDrives()) {
            if (!record.writer)
                continue;
            writers.push_back({record.vendor, record.product, record.revision, record.host, record.target, record.lun,
                               record.devicePath});
        }
        return writers;
    }
    bool CreateDriver(const RecorderDrive& drive, int writingMode) override
    {
        Release();
        std::string error;
        return OpenDrive(drive.device, DriverChoiceFromSetting(writingMode), &drive_, &error) && drive_.driver;
    }
    void Release() override
    {
        drive_.driver.reset();
        drive_.transport.reset();
    }

private:
    OpenedDrive drive_;
};

} // namespace

std::unique_ptr<RecorderBackend> MakeSystemRecorderBackend()
{
    return std::make_unique<SystemRecorderBackend>();
}

RecorderSetup::RecorderSetup(std::unique_ptr<RecorderBackend> backend) : backend_(std::move(backend))
{ }

RecorderSetup::~RecorderSetup()
{
    worker_.reset(); // a driver change under way ends first
    if (backend_)
        backend_->Release();
}

RecorderSetupResult RecorderSetup::SetUp(Settings& settings)
{
    BeginLook();
    return Adopt(Look(settings.recorder, settings.driver), settings);
}

void RecorderSetup::BeginLook()
{
    looking_ = true;
    makingDriver_ = false;
    ++driverSerial_; // a driver change still under way is the look's to replace
    drives_.clear();
    selected_ = -1;
    hasDriver_ = false;
}

RecorderLook RecorderSetup::Look(int wantedIndex, int writingMode)
{
    RecorderLook look;
    std::lock_guard lock(backendMutex_);
    backend_->Release();
    if (!backend_->OpenTransport()) {
        look.transportOk = false;
        return look;
    }
    look.drives = backend_->ScanDrives();
    if (look.drives.empty())
        return look;
    look.selected = wantedIndex >= 0 && wantedIndex < static_cast<int>(look.drives.size()) ? wantedIndex : 0;
    if (writingMode < kWritingModeAuto || writingMode > kWritingModeMmcRaw)
        writingMode = kWritingModeAuto;
    look.driverOk = backend_->CreateDriver(look.drives[static_cast<std::size_t>(look.selected)], writingMode);
    return look;
}

RecorderSetupResult RecorderSetup::Adopt(RecorderLook look, Settings& settings)
{
    looking_ = false;
    drives_ = std::move(look.drives);
    if (settings.recorder < 0)
        settings.recorder = 0;
    if (!look.transportOk)
        return RecorderSetupResult::TransportFailed;
    if (drives_.empty())
        return RecorderSetupResult::NoWriter;
    settings.ApplyRecorderSetup(static_cast<int>(drives_.size()));
    selected_ = look.selected;
    settings.recorder = selected_;
    hasDriver_ = look.driverOk;
    return hasDriver_ ? RecorderSetupResult::Ready : RecorderSetupResult::DriverFailed;
}

RecorderSetupResult RecorderSetup::State() const
{
    if (selected_ < 0)
        return RecorderSetupResult::NoWriter;
    return hasDriver_ ? RecorderSetupResult::Ready : RecorderSetupResult::DriverFailed;
}

std::optional<DriverRequest> RecorderSetup::BeginDriverChange(Settings& settings, int index, bool force)
{
    if (looking_ || index < 0 || index >= static_cast<int>(drives_.size()) || (index == selected_ && !force))
        return std::nullopt;
    selected_ = index;
    settings.recorder = index;
    if (settings.driver < kWritingModeAuto || settings.driver > kWritingModeMmcRaw)
        settings.driver = kWritingModeAuto;
    hasDriver_ = false;
    makingDriver_ = true;
    return DriverRequest{drives_[static_cast<std::size_t>(index)], settings.driver, ++driverSerial_};
}

bool RecorderSetup::MakeDriver(const DriverRequest& request)
{
    std::lock_guard lock(backendMutex_);
    return backend_->CreateDriver(request.drive, request.writingMode);
}

RecorderSetupResult RecorderSetup::AdoptDriver(const DriverRequest& request, bool ok)
{
    // A look begun since, or a newer change, has the last word.
    if (request.serial != driverSerial_ || looking_)
        return State();
    makingDriver_ = false;
    hasDriver_ = ok;
    return State();
}

bool RecorderSetup::ChangeDriverLater(Settings& settings, int index, bool force, OwnerLinkPtr link,
                                      std::function<void(RecorderSetupResult)> done)
{
    std::optional<DriverRequest> request = BeginDriverChange(settings, index, force);
    if (!request)
        return false;
    // The set-up outlives its worker (which it ends first), and the answer goes through the
    // owner's link, so it never reaches a page that has gone.
    worker_->Run([this, request = std::move(*request), link = std::move(link), done = std::move(done)] {
        const bool ok = MakeDriver(request);
        link->Post([this, request, ok, done] {
            const RecorderSetupResult result = AdoptDriver(request, ok);
            if (done)
                done(result);
        });
    });
    return true;
}

const RecorderDrive* RecorderSetup::SelectedDrive() const
{
    if (selected_ < 0 || selected_ >= static_cast<int>(drives_.size()))
        return nullptr;
    return &drives_[static_cast<std::size_t>(selected_)];
}

QStringList RecorderSetup::DriveList() const
{
    QStringList list;
    for (const RecorderDrive& drive : drives_)
        list << QString::fromStdString(drive.vendor) + QString::fromStdString(drive.product) +
                    QStringLiteral("(%1:%2:%3)").arg(drive.adapter).arg(drive.target).arg(drive.unit);
    return list;
}

QString RecorderSetup::DeviceStatus() const
{
    // The drive is named once its driver exists, as the set-up's last step does.
    if (!hasDriver_ || selected_ < 0 || selected_ >= static_cast<int>(drives_.size()))
        return TranslateCoreText(kMsgNoWriter);
    const RecorderDrive& drive = drives_[static_cast<std::size_t>(selected_)];
    return QStringLiteral("Device: %1  %2")
        .arg(QString::fromStdString(drive.vendor), QString::fromStdString(drive.product));
}

} // namespace lumivox::ui
