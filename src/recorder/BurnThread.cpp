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
    bool ok = false;
    try {
        ok = RunSteps();
    } catch (const std::exception& e) {
        result_.text = std::string("Error while writing cd: ") + e.what();
    }
    BaseDriver& driver = *setup_.driver;
    if (!ok && driver.WritingBegun()) {
        // The drive would otherwise wait for more data with its tray locked.
        driver.LeaveIdle();
        if (setup_.settings.mode == DiscMode::Write) {
            result_.discUnusable = true;
            result_.discState = setup_.discErasable ? std::string("The disc was partly written; erase it ") +
                                                          kEraseWithButton + " to use it again."
                                                    : "The disc was partly written and is unusable.";
        }
    } else if (!ok && foundBlank_ && setup_.settings.mode == DiscMode::Write) {
        result_.discState = "Nothing was written: the disc is still blank.";
    }
    if (!result_.discState.empty() && !Cancelled() && result_.text != "Cancelled")
        result_.text += " " + result_.discState;
    result_.warnings = driver.Warnings();
    result_.notes = driver.Notes();
    if (ok) {
        result_.status = BurnStatus::Succeeded;
        if (result_.verify == VerifyStatus::Failed)
            Post(UM_BURN_FAILED, 0, 0,
                 ("The disc was written but does not read back as made. " + result_.verifyText).substr(0, 1023));
        else
            Post(UM_BURN_DONE);
    } else if (Cancelled() || result_.text == "Cancelled") {
        result_.status = BurnStatus::Cancelled;
        result_.text = "Cancelled";
    } else {
        result_.status = BurnStatus::Failed;
        // The progress dialog receives at most 1,023 characters of the text.
        Post(UM_BURN_FAILED, 0, 0, result_.text.substr(0, 1023));
    }
    setup_.queue->ConsumerEnded();
    ended_.store(true, std::memory_order_release);
}

bool BurnThread::RunSteps()
{
    BaseDriver& driver = *setup_.driver;
    driver.SetRun(setup_.settings, setup_.listener, setup_.cancel);
    driver.SetCueSheet(setup_.cueSheet.data(), setup_.cueSheet.size());
    Post(UM_RECORDER_INIT);
    if (!driver.PrepareDisc(&result_.text))
        return false;
    foundBlank_ = true;
    if (Cancelled())
        return false;
    Post(UM_LEAD_IN);
    if (!driver.StartDisc(&result_.text))
        return false;

    std::int32_t address = 0;
    for (;;) {
        std::unique_ptr<BurnBuffer> buffer = setup_.queue->Pop();
        if (!buffer) {
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
        if (Cancelled())
            return false;
    }
    if (address != setup_.totalSectors) {
        result_.text = "Error while writing cd: the image ended after " + std::to_string(address) + " of " +
                       std::to_string(setup_.totalSectors) + " sectors";
        return false;
    }
    driver.SetEndAddress(address);
    Post(UM_LEAD_OUT);
    if (Cancelled())
        return false;
    if (!driver.FinishDisc(&result_.text))
        return false;
    if (setup_.verify && setup_.settings.mode == DiscMode::Write)
        Verify();
    if (setup_.eject)
        driver.EjectAfterRun();
    return true;
}

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
        if (!driver.ReadCd(static_cast<std::int32_t>(at), blocks, data.data())) {
            if (Cancelled())
                continue; // said above, at the loop's head
            result_.verify = VerifyStatus::Failed;
            result_.firstMismatch = at;
            result_.verifyText = "Sector " + std::to_string(at) + " could not be read back: " + driver.LastFailure();
            return;
        }
        for (std::uint32_t i = 0; i < blocks; ++i)
            if (SectorHash(data.data() + i * kRawSectorSize) != hashes[static_cast<std::size_t>(at) + i]) {
                result_.verify = VerifyStatus::Failed;
                result_.firstMismatch = at + i;
                result_.verifyText = "Sector " + std::to_string(at + i) + " reads back differently from the image.";
                return;
            }
        at += blocks;
        post(at);
    }
    result_.verify = VerifyStatus::Passed;
}

} // namespace lumivox
