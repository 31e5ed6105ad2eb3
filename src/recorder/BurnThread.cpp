// SPDX-License-Identifier: GPL-2.0-or-later
#include "recorder/BurnThread.h"

#include "recorder/DiscUtilities.h"

#include "vcd/Sector.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace lumivox {
namespace {
using Clock = std::chrono::steady_clock;
double Since(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}
} // namespace

std::uint64_t SectorHash(const std::uint8_t* sector)
{
    // Word-wise multiply-rotate mixing: fast enough to keep up with the image writer, and
    // any change of a byte changes the result with overwhelming likelihood.
    std::uint64_t h = 0x9E3779B97F4A7C15ull;
    for (std::size_t i = 0; i < kRawSectorSize; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, sector + i, 8);
        h ^= word * 0xC2B2AE3D27D4EB4Full;
        h = (h << 31 | h >> 33) * 0x9E3779B185EBCA87ull;
    }
    h ^= h >> 29;
    return h * 0x165667B19E3779F9ull;
}

// ---- BurnQueue --------------------------------------------------------------------------

BurnQueue::BurnQueue(const ManualResetEvent* cancel) : cancel_(cancel)
{
    if (cancel_)
        wake_.emplace(*cancel_, [this] {
            std::lock_guard<std::mutex> lock(mutex_);
            changed_.notify_all();
        });
}

BurnQueue::~BurnQueue() = default;

bool BurnQueue::Push(std::unique_ptr<BurnBuffer> buffer)
{
    std::unique_lock<std::mutex> lock(mutex_);
    auto done = [this] {
        return consumerEnded_ || stopped_ || (cancel_ && cancel_->IsSet()) || queue_.size() < kMaxQueuedBuffers;
    };
    if (!done()) {
        const auto start = Clock::now();
        changed_.wait(lock, done);
        producerWait_ += Since(start);
    }
    if (consumerEnded_ || stopped_ || (cancel_ && cancel_->IsSet()))
        return false;
    queue_.push_back(std::move(buffer));
    changed_.notify_all();
    return true;
}

std::unique_ptr<BurnBuffer> BurnQueue::Pop()
{
    std::unique_lock<std::mutex> lock(mutex_);
    auto ready = [this] { return stopped_ || (cancel_ && cancel_->IsSet()) || !queue_.empty(); };
    if (!ready()) {
        const auto start = Clock::now();
        changed_.wait(lock, ready);
        consumerWait_ += Since(start);
    }
    if (stopped_ || (cancel_ && cancel_->IsSet()) || queue_.empty())
        return nullptr;
    auto buffer = std::move(queue_.front());
    queue_.pop_front();
    changed_.notify_all();
    return buffer;
}

void BurnQueue::ConsumerEnded()
{
    std::lock_guard<std::mutex> lock(mutex_);
    consumerEnded_ = true;
    queue_.clear();
    changed_.notify_all();
}

void BurnQueue::Stop()
{
    std::lock_guard<std::mutex> lock(mutex_);
    stopped_ = true;
    changed_.notify_all();
}

std::size_t BurnQueue::Count() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return queue_.size();
}

std::unique_ptr<BurnBuffer> BurnQueue::TakeFree()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!free_.empty()) {
            auto buffer = std::move(free_.back());
            free_.pop_back();
            return buffer;
        }
    }
    auto buffer = std::make_unique<BurnBuffer>();
    buffer->data.resize(kBufferSectors * kRawSectorSize);
    return buffer;
}

void BurnQueue::GiveBack(std::unique_ptr<BurnBuffer> buffer)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (free_.size() < 4)
        free_.push_back(std::move(buffer));
}

double BurnQueue::ProducerWaitSeconds() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return producerWait_;
}

double BurnQueue::ConsumerWaitSeconds() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return consumerWait_;
}

// ---- BurnThread -------------------------------------------------------------------------

BurnThread::BurnThread(Setup setup) : setup_(std::move(setup))
{ }

BurnThread::~BurnThread()
{
    Join();
}

void BurnThread::Start()
{
    thread_ = std::jthread([this] { Run(); });
}

void BurnThread::Join()
{
    if (thread_.joinable())
        thread_.join();
}

void BurnThread::Post(ProgressMessage message, std::int64_t done, std::int64_t total, std::string text)
{
    if (setup_.listener)
        setup_.listener->OnProgress(MakeProgressEvent(message, done, total, std::move(text)));
}

void BurnThread::Run()
{
    BaseDriver& driver = *setup_.driver;
    bool finished = false;
    try {
        finished = RunSteps();
    } catch (const std::exception& e) {
        result_.text = std::string("Error while writing cd: ") + e.what();
    }
    const bool cancelled = Cancelled() || result_.text == "Cancelled";
    if (!finished || cancelled)
        DescribeDisc(finished);
    // Every way out of the run lets go of the tray.
    driver.LockTray(false);
    result_.warnings.insert(result_.warnings.begin(), driver.Warnings().begin(), driver.Warnings().end());
    result_.notes = driver.Notes();
    if (finished && !cancelled) {
        result_.status = BurnStatus::Succeeded;
        if (setup_.eject)
            driver.EjectAfterRun();
        if (result_.verify == VerifyStatus::Failed)
            Post(UM_BURN_FAILED, 0, 0, result_.verifyText.substr(0, 1023));
        else
            Post(UM_BURN_DONE);
    } else if (cancelled) {
        result_.status = BurnStatus::Cancelled;
        result_.text = "Cancelled";
    } else {
        result_.status = BurnStatus::Failed;
        if (!result_.discState.empty())
            result_.text += " " + result_.discState;
        // The progress dialog receives at most 1,023 characters of the text.
        Post(UM_BURN_FAILED, 0, 0, result_.text.substr(0, 1023));
    }
    setup_.queue->ConsumerEnded();
    ended_.store(true, std::memory_order_release);
}

void BurnThread::DescribeDisc(bool finished)
{
    BaseDriver& driver = *setup_.driver;
    const bool write = setup_.settings.mode == DiscMode::Write;
    if (finished || driver.SessionClosed()) {
        // Cancelled after the flush: the disc is complete, only the read-back was left off.
        if (write) {
            result_.disc = DiscOutcome::Closed;
            result_.discState = "The disc was written and closed; it was not verified.";
        }
        return;
    }
    if (!driver.WritingBegun()) {
        // The drive took no WRITE: nothing is sent to end a session that never began.
        if (write && driver.DiscFoundBlank())
            result_.discState = "Nothing was written: the disc is still blank.";
        return;
    }
    // The drive would otherwise wait for more data with its tray locked.
    const BaseDriver::IdleOutcome idle = driver.LeaveIdle();
    if (!write)
        return;
    result_.discUnusable = true;
    result_.disc = DiscOutcome::PartlyWritten;
    if (idle == BaseDriver::IdleOutcome::Abandoned || idle == BaseDriver::IdleOutcome::StillBusy) {
        result_.disc = DiscOutcome::Unknown;
        result_.discState = dataComplete_ ? "The program stopped waiting while the drive was finishing the disc; "
                                            "whether it was closed is not known, and it was not verified."
                                          : "The drive may still be busy writing; the disc is probably unusable.";
        return;
    }
    result_.discState = setup_.discErasable ? std::string("The disc was partly written; erase it ") +
                                                  kEraseWithButton + " to use it again."
                                            : "The disc was partly written and is unusable.";
}

bool BurnThread::RunSteps()
{
    BaseDriver& driver = *setup_.driver;
    driver.SetRun(setup_.settings, setup_.listener, setup_.cancel, setup_.leaveNow);
    driver.SetCueSheet(setup_.cueSheet.data(), setup_.cueSheet.size());
    Post(UM_RECORDER_INIT);
    driver.LockTray(true);
    if (!driver.PrepareDisc(&result_.text))
        return false;
    if (Cancelled())
        return false;
    Post(UM_LEAD_IN);
    if (!driver.StartDisc(&result_.text))
        return false;

    std::int32_t address = 0;
    for (;;) {
        std::unique_ptr<BurnBuffer> buffer = setup_.queue->Pop();
        if (!buffer) {
            // A cancel that comes after the last data block was taken is past the point of
            // no return: the disc is finished rather than left without its lead-out.
            if (Cancelled() && address == setup_.totalSectors)
                break;
            if (!Cancelled())
                result_.text = "Error while writing cd: the image ended before its last sector";
            return false;
        }
        if (buffer->kind == BurnBuffer::Kind::End)
            break;
        const std::uint32_t blocks = std::min(buffer->Blocks(), kBufferSectors);
        if (blocks > 0) {
            if (!driver.WriteBlocks(address, buffer->data.data(), blocks, &result_.text))
                return false;
            address += static_cast<std::int32_t>(blocks);
            result_.sectorsWritten = address;
            Post(UM_WRITE_PROGRESS, address, setup_.totalSectors);
        }
        setup_.queue->GiveBack(std::move(buffer));
        if (Cancelled() && address != setup_.totalSectors)
            return false;
    }
    if (address != setup_.totalSectors) {
        result_.text = "Error while writing cd: the image ended after " + std::to_string(address) + " of " +
                       std::to_string(setup_.totalSectors) + " sectors";
        return false;
    }
    dataComplete_ = true;
    driver.SetEndAddress(address);
    driver.BeginFinishing();
    Post(UM_LEAD_OUT);
    if (!driver.FinishDisc(&result_.text))
        return false;
    if (setup_.verify && setup_.settings.mode == DiscMode::Write && !Cancelled())
        Verify();
    return true;
}

namespace {
// Sync pattern of every raw CD-ROM sector (ECMA-130 14.2): 00h, ten FFh, 00h.
bool HasSync(const std::uint8_t* sector)
{
    static const std::uint8_t kSync[12] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
    return std::memcmp(sector, kSync, sizeof kSync) == 0;
}
} // namespace

void BurnThread::Verify()
{
    BaseDriver& driver = *setup_.driver;
    const std::vector<std::uint64_t>& hashes = *setup_.hashes;
    const std::int64_t total = std::min<std::int64_t>(setup_.totalSectors, static_cast<std::int64_t>(hashes.size()));
    std::vector<std::uint8_t> data(kBufferSectors * kRawSectorSize);
    auto post = [&](std::int64_t done) {
        if (!setup_.listener)
            return;
        ProgressEvent event = MakeProgressEvent(UM_WRITE_PROGRESS, done, total);
        event.stage = ProgressStage::Verifying;
        setup_.listener->OnProgress(event);
    };
    // The drive cannot read whole sectors: the disc is written, it just cannot be checked.
    auto unsupported = [&](const std::string& why) {
        result_.verify = VerifyStatus::Unsupported;
        result_.verifyText = "The drive cannot read the disc back whole (" + why + "), so it was not verified.";
        result_.warnings.push_back(result_.verifyText);
        if (setup_.listener) {
            ProgressEvent event = MakeProgressEvent(UM_RECORDER_INIT);
            event.text = result_.verifyText;
            setup_.listener->OnProgress(event);
        }
    };
    auto failed = [&](std::int64_t sector, const std::string& what) {
        result_.verify = VerifyStatus::Failed;
        result_.firstMismatch = sector;
        result_.verifyText = "The disc was written, but " + what;
    };
    post(0);
    // Reads no larger than the system passes to the drive at once.
    std::int64_t perRead = kBufferSectors;
    if (const std::size_t limit = driver.Transport().MaxTransfer(); limit)
        perRead = std::clamp<std::int64_t>(static_cast<std::int64_t>(limit / kRawSectorSize), 1, kBufferSectors);
    for (std::int64_t at = 0; at < total;) {
        if (Cancelled()) {
            result_.verify = VerifyStatus::NotRun; // the disc is written; only the check was left off
            result_.verifyText = "Verification was cancelled.";
            return;
        }
        const std::uint32_t blocks = static_cast<std::uint32_t>(std::min<std::int64_t>(perRead, total - at));
        const std::size_t wanted = std::size_t(blocks) * kRawSectorSize;
        const int read = driver.ReadCd(static_cast<std::int32_t>(at), blocks, data.data());
        if (read == kScsiCancelled)
            continue; // said above, at the loop's head
        const std::string sectors = blocks == 1 ? "sector " + std::to_string(at)
                                                : "sectors " + std::to_string(at) + "-" +
                                                      std::to_string(at + blocks - 1);
        if (read != kScsiSuccess) {
            const SenseData sense = driver.Transport().GetSenseData();
            const std::size_t got = driver.ShortRead();
            if (at == 0 && read == kScsiCheckCondition && sense.Key() == kSenseIllegalRequest)
                return unsupported("it refuses to: " + SenseText(sense));
            if (at == 0 && got > 0 && (got == std::size_t(blocks) * 2324 || got == std::size_t(blocks) * 2048))
                return unsupported("it gives only " + std::to_string(got / blocks) + " of 2,352 bytes a sector");
            if (got > 0 || (read == kScsiFailure && driver.Transport().LastResidual() > 0))
                return failed(at, "the drive returned only " + std::to_string(got) + " of " + std::to_string(wanted) +
                                      " bytes when " + sectors + " were read back.");
            return failed(at, sectors + " could not be read back: " + driver.LastFailure());
        }
        if (at == 0 && !HasSync(data.data()))
            return unsupported("it does not give the sectors' sync and header");
        for (std::uint32_t i = 0; i < blocks; ++i)
            if (SectorHash(data.data() + i * kRawSectorSize) != hashes[static_cast<std::size_t>(at) + i])
                return failed(at + i,
                              "sector " + std::to_string(at + i) + " reads back differently from the image.");
        at += blocks;
        post(at);
    }
    result_.verify = VerifyStatus::Passed;
}

} // namespace lumivox
