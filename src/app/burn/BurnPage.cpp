// SPDX-License-Identifier: GPL-2.0-or-later
#include "burn/BurnPage.h"

#include "logic/CoreText.h"

#include "base/Paths.h"
#include "base/TextUtil.h"
#include "burn/EraseDialog.h"
#include "burn/PictureButton.h"
#include "burn/ProgressDialog.h"
#include "picture/MenuTemplate.h"
#include "production/ProductionPlan.h"
#include "production/ProductionSetup.h"
#include "project/AlbumTable.h"
#include "project/Settings.h"
#include "recorder/DiscUtilities.h"
#include "recorder/DriveDatabase.h"
#include "recorder/RecorderDriver.h"
#include "recorder/Scsi.h"
#include "services/FileChooser.h"
#include "services/MessageBoxes.h"
#include "services/ProjectBridge.h"
#include "services/RecorderSetup.h"
#include "vcd/VideoCdLayout.h"
#include "logic/DiscLabel.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace lumivox::ui {

QString DiscImageName(const QString& label)
{
    // Characters no file system takes, and leading dots, give way to underscores.
    QString name = label.trimmed();
    static const QString kRefused = QStringLiteral("/\\:*?\"<>|");
    for (QChar& c : name)
        if (kRefused.contains(c) || c.unicode() < 0x20)
            c = QLatin1Char('_');
    while (name.startsWith(QLatin1Char('.')))
        name.remove(0, 1);
    return (name.isEmpty() ? QStringLiteral("disc") : name) + QStringLiteral(".cue");
}

namespace {

// The sectors an 80-minute CD-R takes: its last lead-out may start at 79:59:74, and the
// image begins after the 150-sector pregap.
constexpr std::uint32_t kCdrSectors = 79 * 4500 + 59 * 75 + 74 - 150;
constexpr double kSectorsPerMinute = 75.0 * 60.0;

QString Thousands(std::uint64_t value)
{
    return QLocale(QLocale::English).toString(static_cast<qulonglong>(value));
}

} // namespace

BurnPage::BurnPage(AppServices& services, QWidget* parent) : Page(services, parent)
{
    BuildControls();
    capacityTimer_ = new QTimer(this);
    capacityTimer_->setSingleShot(true);
    capacityTimer_->setInterval(0);
    connect(capacityTimer_, &QTimer::timeout, this, &BurnPage::UpdateCapacity);
    // Every change of the albums or their pictures changes the disc's size; a burst of
    // them (a project being opened) is measured once.
    ProjectBridge* bridge = &services_.Bridge();
    connect(bridge, &ProjectBridge::albumListChanged, this, &BurnPage::ScheduleCapacity);
    connect(bridge, &ProjectBridge::albumsInserted, this, &BurnPage::ScheduleCapacity);
    connect(bridge, &ProjectBridge::albumsRemoved, this, &BurnPage::ScheduleCapacity);
    connect(bridge, &ProjectBridge::picturesInserted, this, &BurnPage::ScheduleCapacity);
    connect(bridge, &ProjectBridge::picturesRemoved, this, &BurnPage::ScheduleCapacity);
    connect(bridge, &ProjectBridge::picturesChanged, this, &BurnPage::ScheduleCapacity);
    connect(bridge, &ProjectBridge::resetDone, this, &BurnPage::ScheduleCapacity);
    connect(bridge, &ProjectBridge::loadFinished, this, &BurnPage::ScheduleCapacity);
    RecordersChanged();
    UpdateCapacity();
}

BurnPage::~BurnPage()
{
    // The program is going: nothing more reaches the page; a run still going stops at its
    // next cancel point, and its threads are waited for when the last holder lets it go.
    link_->Cut();
    if (lastRun_)
        lastRun_->Cancel();
}

void BurnPage::BuildControls()
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 12, 16, 12);
    AddHeading(layout, tr("Burn CD"),
               tr("Make the Video CD: pick the TV norm of your country and a CD recorder, put a blank CD-R in it, "
                  "and burn, or save the disc as an image file to burn elsewhere."));
    auto* row = new QHBoxLayout;
    row->setSpacing(16);

    // Left: the disc's settings and the recorder's.
    QWidget* card = MakeCard(this);
    auto* cardLayout = new QVBoxLayout(card);
    cardLayout->setContentsMargins(20, 16, 20, 18);
    cardLayout->setSpacing(12);

    auto* video = new QGroupBox(tr("Video Option"), card);
    auto* videoLayout = new QVBoxLayout(video);
    auto* norms = new QHBoxLayout;
    pal_ = new QRadioButton(QStringLiteral("PAL"), video);
    pal_->setObjectName(QStringLiteral("palButton"));
    ntsc_ = new QRadioButton(QStringLiteral("NTSC"), video);
    ntsc_->setObjectName(QStringLiteral("ntscButton"));
    auto* normGroup = new QButtonGroup(this);
    normGroup->addButton(pal_);
    normGroup->addButton(ntsc_);
    norms->addWidget(pal_);
    norms->addSpacing(24);
    norms->addWidget(ntsc_);
    norms->addStretch();
    videoLayout->addLayout(norms);
    normNote_ = new QLabel(tr("Notes:"), video);
    normNote_->setObjectName(QStringLiteral("normNote"));
    normNote_->setWordWrap(true);
    normNote_->setStyleSheet(QStringLiteral("color: #5f5a50;"));
    videoLayout->addWidget(normNote_);
    cardLayout->addWidget(video);

    auto* form = new QFormLayout;
    form->setHorizontalSpacing(16);
    form->setVerticalSpacing(10);
    drives_ = new QComboBox(card);
    drives_->setObjectName(QStringLiteral("driveList"));
    drives_->setMinimumWidth(280);
    form->addRow(tr("Drive:"), drives_);
    speeds_ = new QComboBox(card);
    speeds_->setObjectName(QStringLiteral("speedList"));
    for (const char* speed : kSpeedNames)
        speeds_->addItem(QString::fromLatin1(speed));
    form->addRow(tr("Recording Speed:"), speeds_);
    // What a player without playback control (a computer) shows: the whole slideshow, or
    // the fixed card; its size is part of the disc's.
    slideshowTrack_ = new QComboBox(card);
    slideshowTrack_->setObjectName(QStringLiteral("slideshowTrackList"));
    slideshowTrack_->addItem(tr("Automatic (when the disc has room)"), QStringLiteral("auto"));
    slideshowTrack_->addItem(tr("Always"), QStringLiteral("always"));
    slideshowTrack_->addItem(tr("Never (a fixed card)"), QStringLiteral("never"));
    slideshowTrack_->setToolTip(tr("The disc's MPEG track, which players show with playback control off: every "
                                   "album with a title card and its pictures, one chapter per album."));
    form->addRow(tr("Slideshow track:"), slideshowTrack_);
    cardLayout->addLayout(form);
    burnProof_ = new QCheckBox(tr("Burn-Proof(TM) disc protection"), card);
    burnProof_->setObjectName(QStringLiteral("burnProofBox"));
    cardLayout->addWidget(burnProof_);
    verify_ = new QCheckBox(tr("Verify the disc after burning"), card);
    verify_->setObjectName(QStringLiteral("verifyBox"));
    verify_->setToolTip(tr("Reads the whole disc back after a burn and compares every sector with what was written."));
    verify_->setChecked(true);
    cardLayout->addWidget(verify_);

    auto* fileSystem = new QGroupBox(tr("CD File System Options"), card);
    auto* fileSystemLayout = new QFormLayout(fileSystem);
    label_ = new QLineEdit(fileSystem);
    label_->setObjectName(QStringLiteral("discLabelEdit"));
    // The disc keeps at most 32 characters, and only capitals, digits and "_": what it will
    // carry is shown as soon as that differs from what was typed.
    label_->setMaxLength(DiscLabelLength());
    label_->setToolTip(tr("The name a computer shows for the disc: up to %1 capitals, digits and \"_\".")
                           .arg(DiscLabelLength()));
    fileSystemLayout->addRow(tr("CD Label:"), label_);
    labelOnDisc_ = new QLabel(fileSystem);
    labelOnDisc_->setObjectName(QStringLiteral("discLabelOnDisc"));
    labelOnDisc_->setWordWrap(true);
    labelOnDisc_->setStyleSheet(QStringLiteral("color: #5f5a50;")); // the page's note colour, as the norm's
    fileSystemLayout->addRow(QString(), labelOnDisc_);
    connect(label_, &QLineEdit::textChanged, this, [this](const QString& text) {
        bool changed = false;
        const QString onDisc = DiscLabelOnDisc(text, &changed);
        labelOnDisc_->setText(tr("On the disc: %1").arg(onDisc));
        labelOnDisc_->setVisible(changed);
    });
    labelOnDisc_->hide();
    cardLayout->addWidget(fileSystem);

    recorderNote_ = new QLabel(card);
    recorderNote_->setWordWrap(true);
    recorderNote_->setStyleSheet(QStringLiteral("color: #8a5a00;"));
    cardLayout->addWidget(recorderNote_);
    row->addWidget(card, 3, Qt::AlignTop);

    // Right: how full the disc will be, and the commands.
    auto* side = new QVBoxLayout;
    side->setSpacing(16);
    QWidget* meter = MakeCard(this);
    auto* meterLayout = new QVBoxLayout(meter);
    meterLayout->setContentsMargins(20, 16, 20, 16);
    meterLayout->setSpacing(8);
    auto* meterTitle = new QLabel(tr("Disc size"), meter);
    QFont titleFont = meterTitle->font();
    titleFont.setWeight(QFont::DemiBold);
    meterTitle->setFont(titleFont);
    meterLayout->addWidget(meterTitle);
    capacity_ = new QLabel(meter);
    meterLayout->addWidget(capacity_);
    capacityBar_ = new QProgressBar(meter);
    capacityBar_->setRange(0, 1000);
    capacityBar_->setTextVisible(false);
    capacityBar_->setFixedHeight(12);
    meterLayout->addWidget(capacityBar_);
    units_ = new QLabel(meter);
    units_->setStyleSheet(QStringLiteral("color: #5f5a50;"));
    meterLayout->addWidget(units_);
    limit_ = new QLabel(meter);
    limit_->setWordWrap(true);
    limit_->setStyleSheet(QStringLiteral("color: #b3261e; font-weight: 600;"));
    limit_->hide();
    meterLayout->addWidget(limit_);
    side->addWidget(meter);

    QWidget* commands = MakeCard(this);
    auto* commandLayout = new QVBoxLayout(commands);
    commandLayout->setContentsMargins(20, 16, 20, 16);
    commandLayout->setSpacing(8); // the card fits a 1024 x 600 screen
    const struct {
        PictureButtonKind kind;
        QString caption;
        QString tooltip;
        void (BurnPage::*run)();
    } buttons[] = {
        {PictureButtonKind::Erase, tr("Erase CD-RW"), QStringLiteral("Erase CD-RW disc"), &BurnPage::Erase},
        {PictureButtonKind::Eject, tr("Eject"), QStringLiteral("Eject CD"), &BurnPage::Eject},
        {PictureButtonKind::CloseTray, tr("Close Tray"), QStringLiteral("Close CD-ROM"), &BurnPage::CloseTray},
        {PictureButtonKind::TestBurn, tr("Test Burn"),
         QStringLiteral("Test burning CD. No data will be written to the CD-R/RW disc and the CD-R/RW disc will "
                        "remain blank."),
         &BurnPage::TestBurn},
        {PictureButtonKind::Burn, tr("Burn Now"), QStringLiteral("Burn the CD"), &BurnPage::Burn},
    };
    // In the order of BurnButton.
    static constexpr const char* kCommandNames[] = {"eraseCommand", "ejectCommand", "closeTrayCommand",
                                                    "testBurnCommand", "burnCommand"};
    for (int i = 0; i < 5; ++i) {
        buttons_[i] = new PictureButton(buttons[i].kind, buttons[i].caption, buttons[i].tooltip, commands);
        buttons_[i]->setObjectName(QLatin1String(kCommandNames[i]));
        const auto run = buttons[i].run;
        connect(buttons_[i], &QAbstractButton::clicked, this, [this, run] { (this->*run)(); });
        if (i == 3)
            commandLayout->addSpacing(10); // the burn commands stand apart from the drive's
        commandLayout->addWidget(buttons_[i], 0, Qt::AlignHCenter);
    }
    commandLayout->addSpacing(10);
    imageButton_ = new QPushButton(tr("Save Disc Image..."), commands);
    imageButton_->setObjectName(QStringLiteral("imageButton"));
    imageButton_->setMinimumWidth(kPictureButtonWidth);
    imageButton_->setToolTip(tr("Writes the disc as a BIN/CUE image that any CD burning program can write."));
    connect(imageButton_, &QPushButton::clicked, this, &BurnPage::SaveDiscImage);
    commandLayout->addWidget(imageButton_, 0, Qt::AlignHCenter);
    side->addWidget(commands);
    side->addStretch();
    row->addLayout(side, 2);
    layout->addLayout(row);
    layout->addStretch();

    // Initial values: the norm, Burn-Proof and the speed from the settings; the label
    // always starts as "My Photo VideoCD".
    const Settings& settings = services_.UserSettings();
    (settings.IsPal() ? pal_ : ntsc_)->setChecked(true);
    normNote_->setText(QString::fromLatin1(settings.IsPal() ? kPalNote : kNtscNote));
    burnProof_->setChecked(settings.burnProof != 0);
    speeds_->setCurrentIndex(SpeedIndexFromSetting(settings.burnSpeed));
    label_->setText(QString::fromLatin1(kDefaultCdLabelText));
    slideshowTrack_->setCurrentIndex(
        std::max(0, slideshowTrack_->findData(QString::fromStdString(settings.slideshowTrack))));
    connect(slideshowTrack_, &QComboBox::activated, this, [this](int index) {
        services_.UserSettings().slideshowTrack = slideshowTrack_->itemData(index).toString().toStdString();
        ScheduleCapacity();
    });

    connect(pal_, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            NormChosen(true);
    });
    connect(ntsc_, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            NormChosen(false);
    });
    connect(speeds_, &QComboBox::activated, this, [this](int index) { services_.UserSettings().burnSpeed = index; });
    connect(burnProof_, &QCheckBox::toggled, this,
            [this](bool on) { services_.UserSettings().burnProof = on ? 1 : 0; });
    connect(drives_, &QComboBox::activated, this, &BurnPage::DriveChosen);
}

void BurnPage::OnShown()
{
    // The template and the music are chosen on the disc menu page, so the size is taken
    // afresh whenever this page comes into view.
    UpdateCapacity();
}

void BurnPage::DiscMenuChanged()
{
    ScheduleCapacity();
}

void BurnPage::NormChosen(bool pal)
{
    services_.UserSettings().pal = pal ? 1 : 0;
    normNote_->setText(QString::fromLatin1(pal ? kPalNote : kNtscNote));
    // The norm picks the disc's MPEG track, whose size is part of the disc's.
    ScheduleCapacity();
}

void BurnPage::RecordersChanged()
{
    drives_->clear();
    const QStringList drives = services_.Recorders().DriveList();
    drives_->addItems(drives);
    if (services_.Recorders().IsLooking()) {
        drives_->addItem(tr("Looking for CD recorders..."));
        drives_->setEnabled(false);
    } else if (drives.isEmpty()) {
        drives_->addItem(TranslateCoreText(kMsgNoWriter));
        drives_->setEnabled(false);
    } else {
        drives_->setEnabled(true);
        const int selected = services_.Recorders().SelectedIndex();
        drives_->setCurrentIndex(
            selected >= 0 ? selected
                          : std::clamp(services_.UserSettings().recorder, 0, static_cast<int>(drives.size()) - 1));
    }
    UpdateCommands();
}

void BurnPage::DriveChosen(int index)
{
    // The new drive's driver is made on the set-up's worker; the page is busy meanwhile.
    if (!services_.Recorders().ChangeDriverLater(services_.UserSettings(), index, false, link_,
                                                 [this](RecorderSetupResult result) { DriverMade(result); }))
        return; // the same drive again: nothing changes
    UpdateBusy();
    emit recorderSelected();
}

void BurnPage::DriverMade(RecorderSetupResult result)
{
    if (result == RecorderSetupResult::DriverFailed)
        services_.Messages().Information(this, TranslateCoreText(kMsgDriverFailed));
    UpdateBusy();
}

QString BurnPage::RecorderNote() const
{
    return recorderNote_->text();
}
QString BurnPage::CapacityText() const
{
    return capacity_->text();
}
QString BurnPage::LimitText() const
{
    return limit_->isHidden() ? QString() : limit_->text();
}

void BurnPage::ScheduleCapacity()
{
    // Pending from now on: a burn asked for before the new figure arrives waits for it.
    estimatePending_ = true;
    capacityTimer_->start();
}

void BurnPage::UpdateCapacity()
{
    // The project and the disc menu are read here; the template, the music and the MPEG
    // track are read on the estimate's worker. The page keeps showing the last figure until
    // the newest one arrives (older ones are dropped).
    capacityTimer_->stop();
    estimatePending_ = true;
    ProductionPlan plan = MakeProductionPlan(services_.Project());
    plan.norm = TvNormFromSetting(services_.UserSettings().pal);
    ParseSlideshowTrackMode(services_.UserSettings().slideshowTrack, plan.slideshowTrack);
    DiscMenuState menu = services_.DiscMenu();
    const std::string programFolder =
        services_.UserSettings().programFolder.empty() ? ProgramFolder() : services_.UserSettings().programFolder;
    const unsigned generation = link_->NextGeneration();
    estimateWorker_.Run(
        [this, link = link_, generation, plan = std::move(plan), menu = std::move(menu), programFolder]() mutable {
            auto outcome = std::make_shared<EstimateOutcome>();
            std::string error;
            outcome->valid = SetMenuFromState(menu, plan, &error);
            outcome->error = TranslateCoreText(error);
            if (outcome->valid) {
                outcome->estimate = EstimateDisc(plan, programFolder);
                outcome->withMusic = !plan.musicPath.empty();
            }
            link->PostIfCurrent(generation, [this, outcome] { ShowEstimate(*outcome); });
        });
    UpdateCommands();
}

bool BurnPage::IsEstimating() const
{
    return estimatePending_;
}

void BurnPage::ShowEstimate(const EstimateOutcome& outcome)
{
    estimatePending_ = capacityTimer_->isActive();
    estimateValid_ = outcome.valid;
    if (!estimateValid_) {
        estimateError_ = outcome.error;
        capacity_->setText(tr("The disc's size is not known: %1").arg(estimateError_));
        capacityBar_->setValue(0);
        units_->clear();
        limit_->hide();
        emit discTrackKnown(false);
        FinishEstimate();
        return;
    }
    estimate_ = outcome.estimate;
    emit discTrackKnown(estimate_.slideshowTrack && estimate_.Fits());
    const double minutes = estimate_.sectors / kSectorsPerMinute;
    const int percent = static_cast<int>(std::lround(minutes * 100.0 / kDiscMinutes));
    capacity_->setText(QString::asprintf("%.1f of %d minutes (%d %%)", minutes, kDiscMinutes, percent));
    QString detail = tr("%1 sectors of 2,352 bytes").arg(Thousands(estimate_.sectors));
    if (outcome.withMusic && !estimate_.unitsMeasured)
        detail += tr(". The menu pages' share is estimated from the music's length.");
    if (estimate_.slideshowTrack)
        detail += tr(". The slideshow track takes %1 sectors.").arg(Thousands(estimate_.trackPackets));
    capacity_->setToolTip(detail);
    capacityBar_->setValue(static_cast<int>(std::min<double>(1000.0, minutes * 1000.0 / kDiscMinutes)));
    units_->setText(tr("Segment units: %1 of %2").arg(Thousands(estimate_.segmentUnits), Thousands(kMaxSegmentUnits)));
    QString limit;
    if (!estimate_.Fits())
        limit = QString::fromStdString(estimate_.limitExceeded);
    else if (estimate_.sectors > kCdrSectors)
        limit = tr("The disc needs %1 minutes; an 80-minute CD-R holds %2.")
                    .arg(QString::asprintf("%.1f", minutes))
                    .arg(kDiscMinutes);
    limit_->setText(limit.isEmpty() ? QString::fromStdString(estimate_.trackWarning) : limit);
    limit_->setVisible(!limit_->text().isEmpty());
    capacityBar_->setStyleSheet(limit.isEmpty() ? QString()
                                                : QStringLiteral("QProgressBar::chunk { background: #b3261e; }"));
    FinishEstimate();
}

void BurnPage::FinishEstimate()
{
    UpdateCommands();
    if (deferredRun_ && !estimatePending_) {
        const DeferredRun run = *deferredRun_;
        deferredRun_.reset();
        RunOn(run.kind, run.drive ? &*run.drive : nullptr);
    }
}

void BurnPage::UpdateCommands()
{
    const bool hasDrive = services_.Recorders().SelectedDrive() != nullptr;
    const bool hasRecorder = hasDrive && services_.Recorders().HasDriver();
    const bool fits = estimateValid_ && estimate_.Fits() && estimate_.sectors <= kCdrSectors;
    // While a new figure is on its way the last one's answer stands (no flicker); a burn
    // asked for meanwhile waits for the new figure.
    const bool idle = progress_.isNull() && !IsBusy();
    for (BurnButton utility : {BurnButton::Erase, BurnButton::Eject, BurnButton::CloseTray})
        Button(utility)->setEnabled(hasRecorder && idle);
    Button(BurnButton::TestBurn)->setEnabled(hasRecorder && fits && idle);
    Button(BurnButton::Burn)->setEnabled(hasRecorder && fits && idle);
    imageButton_->setEnabled(fits && idle);
    if (!hasDrive)
        recorderNote_->setText(tr("No CD writer was found, so the disc cannot be burnt here. \"Save Disc Image...\" "
                                  "writes it as a BIN/CUE image that any CD burning program can write, here or on "
                                  "another computer."));
    else if (!hasRecorder)
        recorderNote_->setText(tr("The recorder's driver could not be made, so the disc cannot be burnt here. "
                                  "\"Save Disc Image...\" writes it as a BIN/CUE image to burn elsewhere."));
    else
        recorderNote_->clear();
    recorderNote_->setVisible(!recorderNote_->text().isEmpty());
}

void BurnPage::Burn()
{
    StartRun(RunKind::Burn);
}
void BurnPage::TestBurn()
{
    StartRun(RunKind::TestBurn);
}
void BurnPage::SaveDiscImage()
{
    StartRun(RunKind::DiscImage);
}

void BurnPage::StartRun(RunKind kind)
{
    const RecorderDrive* drive = services_.Recorders().SelectedDrive();
    if (kind != RunKind::DiscImage && (!drive || !services_.Recorders().HasDriver()))
        return;
    RunOn(kind, drive);
}

void BurnPage::BurnOn(const RecorderDrive& drive, RunKind kind)
{
    RunOn(kind, &drive);
}

void BurnPage::RunOn(RunKind kind, const RecorderDrive* drive)
{
    if (progress_ || IsBusy() || deferredRun_)
        return; // one run at a time, and never while a command or the last run has the drive
    if (estimatePending_) {
        // The disc's size is being measured after a change: the run starts once it is known.
        deferredRun_ = DeferredRun{kind, drive ? std::optional<RecorderDrive>(*drive) : std::nullopt};
        return;
    }
    if (kind == RunKind::TestBurn && !services_.Messages().Question(this, TranslateCoreText(kTestBurnQuestion)))
        return;
    if (!estimateValid_ || !estimate_.Fits() || estimate_.sectors > kCdrSectors) {
        services_.Messages().Information(this, estimateValid_ ? LimitText() : estimateError_);
        return;
    }

    QString cuePath;
    if (kind == RunKind::DiscImage) {
        cuePath = services_.Files().SaveDiscImage(this, DiscImageName(label_->text()));
        if (cuePath.isEmpty())
            return;
        if (QFileInfo(cuePath).suffix().compare(QStringLiteral("cue"), Qt::CaseInsensitive) != 0)
            cuePath += QStringLiteral(".cue");
    }

    ProductionRequest request;
    request.project = &services_.Project();
    request.menu = &services_.DiscMenu();
    request.norm = TvNormFromSetting(services_.UserSettings().pal);
    request.label = CutUtf8(label_->text().toStdString(), kMaxCdLabelBytes);
    request.settings = &services_.UserSettings();
    request.programFolder = services_.UserSettings().programFolder;
    request.jobs = jobs_;
    std::string binPath;
    if (kind == RunKind::DiscImage) {
        const QFileInfo cue(cuePath);
        binPath = (cue.path() + QLatin1Char('/') + cue.completeBaseName() + QStringLiteral(".bin")).toStdString();
        request.outputPath = cuePath.toStdString();
    }
    PreparedProduction prepared = PrepareProduction(request);
    if (!prepared.Ok()) {
        services_.Messages().Warning(this, TranslateCoreText(prepared.error));
        return;
    }
    auto run = std::make_shared<BurnRun>(kind, std::move(prepared.parameters), prepared.runFolder);
    if (kind == RunKind::DiscImage) {
        run->OpenImage(binPath);
    } else {
        BurnOptions options;
        options.device = drive->device;
        options.speedIndex = SpeedIndexFromSetting(services_.UserSettings().burnSpeed);
        options.mode = kind == RunKind::TestBurn ? DiscMode::Simulate : DiscMode::Write;
        options.burnProof = burnProof_->isChecked();
        options.driver = DriverChoiceFromSetting(services_.UserSettings().driver);
        options.verify = verify_->isChecked();
        // Without music every segment's size is fixed, so the estimate is the image's
        // size to the sector and a disc too small is refused before anything is encoded.
        // With music the menu pages are estimated; the feed then checks the laid-out disc.
        const std::int64_t knownSectors = services_.DiscMenu().BackgroundMusic().empty() && estimate_.sectorsExact
                                              ? std::int64_t{estimate_.sectors}
                                              : -1;
        // Opening the feed checks that the disc is blank (once per burn) and may wait for
        // the drive to load: all on the drive's worker.
        DriveTask(options.device, [this, run, options, knownSectors]() -> std::function<void()> {
            std::string error;
            if (!run->OpenRecorder(options, knownSectors, &error))
                return [this, error] { services_.Messages().Information(this, TranslateCoreText(error)); };
            return [this, run, device = options.device] { Launch(run, device); };
        });
        return;
    }
    Launch(std::move(run), std::string());
}

void BurnPage::Launch(std::shared_ptr<BurnRun> run, const std::string& device)
{
    if (progress_ || holdingRun_)
        return; // cannot happen: the page was busy since the run was made
    // The last run has let go of its drive (or never had one); dropping it waits for nothing.
    lastRun_ = run;
    holdingRun_ = run;
    connect(
        &run->Bridge(), &RunBridge::finished, this, [this, which = run.get(), device] { ReleaseRun(which, device); },
        Qt::QueuedConnection);
    UpdateBusy();
    OpenProgress(run);
    if (!run->IsStarted())
        ReleaseRun(run.get(), device);
}

void BurnPage::ReleaseRun(const BurnRun* which, const std::string& device)
{
    if (!holdingRun_ || holdingRun_.get() != which)
        return;
    // The run's last report has come; its threads end and its drive is closed on the drive's
    // worker, and only then does the page take drive commands again (a Cancel closes the
    // dialog at once, but the drive is the run's until then).
    DriveTask(device, [this, run = holdingRun_]() -> std::function<void()> {
        run->Release();
        return [this] {
            holdingRun_.reset();
            UpdateBusy();
        };
    });
}

void BurnPage::OpenProgress(std::shared_ptr<BurnRun> run)
{
    auto* dialog = new ProgressDialog(std::move(run), services_.Messages(), window());
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    progress_ = dialog;
    connect(dialog, &QDialog::finished, this, [this] {
        progress_.clear(); // the page is idle again; the run's threads are not waited for
        UpdateCommands();
    });
    UpdateCommands();
    dialog->show();
    dialog->StartRun();
}

void BurnPage::DriveTask(const std::string& device, std::function<std::function<void()>()> work)
{
    ++driveBusy_;
    UpdateBusy();
    driveTasks_.For(device).Run([this, link = link_, work = std::move(work)] {
        std::function<void()> then = work();
        link->Post([this, then = std::move(then)] {
            --driveBusy_;
            if (then)
                then();
            UpdateBusy();
        });
    });
}

void BurnPage::UpdateBusy()
{
    if (IsBusy())
        setCursor(Qt::BusyCursor);
    else
        unsetCursor();
    UpdateCommands();
}

void BurnPage::WithSelectedDrive(std::function<void(BaseDriver&)> command)
{
    const RecorderDrive* drive = services_.Recorders().SelectedDrive();
    if (!drive || IsBusy())
        return;
    const DriverChoice choice = DriverChoiceFromSetting(services_.UserSettings().driver);
    DriveTask(drive->device,
              [this, device = drive->device, choice, command = std::move(command)]() -> std::function<void()> {
                  OpenedDrive recorder;
                  std::string error;
                  if (!OpenDrive(device, choice, &recorder, &error))
                      return [this, error] { services_.Messages().Information(this, TranslateCoreText(error)); };
                  command(*recorder.driver);
                  return {};
              });
}

void BurnPage::Erase()
{
    const RecorderDrive* drive = services_.Recorders().SelectedDrive();
    if (!drive || !services_.Recorders().HasDriver() || IsBusy())
        return;
    const DriverChoice choice = DriverChoiceFromSetting(services_.UserSettings().driver);
    DriveTask(drive->device, [this, device = drive->device, choice]() -> std::function<void()> {
        auto recorder = std::make_shared<OpenedDrive>();
        std::string error;
        if (!OpenDrive(device, choice, recorder.get(), &error))
            return [this, error] { services_.Messages().Information(this, TranslateCoreText(error)); };
        return [this, device, recorder]() mutable {
            {
                EraseDialog dialog(*recorder->driver, services_.Messages(), nullptr, window());
                dialog.exec();
            }
            // The drive is closed where it was opened.
            driveTasks_.For(device).Run([recorder = std::move(recorder)]() mutable { recorder.reset(); });
        };
    });
}

void BurnPage::Eject()
{
    WithSelectedDrive([](BaseDriver& driver) { driver.StartStopUnit(true); });
}

void BurnPage::CloseTray()
{
    WithSelectedDrive([](BaseDriver& driver) { driver.StartStopUnit(false); });
}

} // namespace lumivox::ui
