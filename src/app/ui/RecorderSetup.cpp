#include "ui/RecorderSetup.h"

namespace lumivox::ui {

namespace {

// Until the recorder library is part of the program, the system has a transport that
// finds no writer, so the program takes the same road as on a machine without one.
class NoRecorderBackend final : public RecorderBackend {
public:
    bool OpenTransport() override { return true; }
    std::vector<RecorderDrive> ScanDrives() override { return {}; }
    bool CreateDriver(const RecorderDrive&, int) override { return false; }
    void Release() override {}
};

} // namespace

std::unique_ptr<RecorderBackend> MakeSystemRecorderBackend()
{
    return std::make_unique<NoRecorderBackend>();
}

RecorderSetup::RecorderSetup(std::unique_ptr<RecorderBackend> backend) : backend_(std::move(backend)) {}

RecorderSetup::~RecorderSetup()
{
    if (backend_)
        backend_->Release();
}

RecorderSetupResult RecorderSetup::SetUp(Settings& settings)
{
    backend_->Release();
    drives_.clear();
    selected_ = -1;
    hasDriver_ = false;
    if (!backend_->OpenTransport())
        return RecorderSetupResult::TransportFailed;
    if (settings.recorder < 0)
        settings.recorder = 0;
    drives_ = backend_->ScanDrives();
    if (drives_.empty())
        return RecorderSetupResult::NoWriter;
    settings.ApplyRecorderSetup(static_cast<int>(drives_.size()));
    selected_ = settings.recorder;
    return ReplaceDriver(settings);
}

RecorderSetupResult RecorderSetup::ReplaceDriver(Settings& settings)
{
    if (selected_ < 0 || selected_ >= static_cast<int>(drives_.size()))
        return RecorderSetupResult::NoWriter;
    if (settings.driver < kWritingModeAuto || settings.driver > kWritingModeMmcRaw)
        settings.driver = kWritingModeAuto;
    hasDriver_ = backend_->CreateDriver(drives_[static_cast<std::size_t>(selected_)], settings.driver);
    return hasDriver_ ? RecorderSetupResult::Ready : RecorderSetupResult::DriverFailed;
}

RecorderSetupResult RecorderSetup::SelectDrive(Settings& settings, int index)
{
    if (index < 0 || index >= static_cast<int>(drives_.size()) || index == selected_) {
        if (selected_ < 0)
            return RecorderSetupResult::NoWriter;
        return hasDriver_ ? RecorderSetupResult::Ready : RecorderSetupResult::DriverFailed;
    }
    selected_ = index;
    settings.recorder = index;
    hasDriver_ = false;
    return ReplaceDriver(settings);
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
        return QString::fromLatin1(kMsgNoWriter);
    const RecorderDrive& drive = drives_[static_cast<std::size_t>(selected_)];
    return QStringLiteral("Device: %1  %2")
        .arg(QString::fromStdString(drive.vendor), QString::fromStdString(drive.product));
}

} // namespace lumivox::ui
