// SPDX-License-Identifier: GPL-2.0-or-later
#include "logic/MusicPlayer.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace lumivox::ui {

bool ChunkQueue::Push(MusicChunk&& chunk, std::stop_token stop)
{
    {
        std::unique_lock lock(mutex_);
        if (!room_.wait(lock, stop, [this] { return chunks_.size() < kMaxQueuedChunks; }))
            return false;
        chunks_.push_back(std::move(chunk));
    }
    if (arrival_)
        arrival_();
    return true;
}

std::optional<MusicChunk> ChunkQueue::TryPop()
{
    std::optional<MusicChunk> chunk;
    {
        std::lock_guard lock(mutex_);
        if (chunks_.empty())
            return chunk;
        chunk = std::move(chunks_.front());
        chunks_.pop_front();
    }
    room_.notify_all();
    return chunk;
}

void ChunkQueue::Clear()
{
    {
        std::lock_guard lock(mutex_);
        chunks_.clear();
    }
    room_.notify_all();
}

std::size_t ChunkQueue::Size() const
{
    std::lock_guard lock(mutex_);
    return chunks_.size();
}

MusicFileKind MusicKindOf(const std::string& path)
{
    if (path.size() < 4)
        return MusicFileKind::None;
    std::string ending = path.substr(path.size() - 4);
    std::transform(ending.begin(), ending.end(), ending.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (ending == ".mp3")
        return MusicFileKind::Mp3;
    if (ending == ".wav")
        return MusicFileKind::Wave;
    return MusicFileKind::None;
}

MusicPlayer::MusicPlayer(WaveOutput& output, Post post) : output_(output), post_(std::move(post))
{
    ring_.assign(kRingBuffers, std::vector<std::uint8_t>(kMusicChunkBytes, 0));
    queue_ = std::make_shared<ChunkQueue>();
    readerEnded_ = std::make_shared<std::atomic<bool>>(true);
    // Both callbacks come on other threads and only post to the owner thread; a task of an
    // older song (generation) finds the generation moved on and does nothing.
    output_.SetCompletion([this](int userValue) {
        const unsigned generation = generation_.load();
        post_([this, generation, userValue] {
            if (generation == generation_.load())
                BufferDone(userValue);
        });
    });
}

MusicPlayer::~MusicPlayer()
{
    Stop();
    // The readers still going stop at their next chunk; they report to this player.
    stale_.clear();
    output_.SetCompletion({});
}

std::size_t MusicPlayer::StaleReaders() const
{
    std::size_t going = 0;
    for (const Reader& reader : stale_)
        going += reader.ended->load() ? 0 : 1;
    return going;
}

void MusicPlayer::ReapEnded()
{
    std::erase_if(stale_, [](const Reader& reader) { return reader.ended->load(); });
}

void MusicPlayer::Start(const std::string& path)
{
    Stop();
    ++generation_;
    state_ = State::Prefilling;
    fillIndex_ = 0;
    prefilled_ = 0;
    prefillHasLast_ = false;
    waitingBuffers_.clear();
    const MusicFileKind kind = MusicKindOf(path);
    queue_ = std::make_shared<ChunkQueue>();
    queue_->SetArrivalCallback([this] {
        const unsigned generation = generation_.load();
        post_([this, generation] {
            if (generation == generation_.load())
                Feed();
        });
    });
    readerEnded_ = std::make_shared<std::atomic<bool>>(false);
    reader_ = std::jthread([path, kind, queue = queue_, ended = readerEnded_](std::stop_token stop) {
        if (kind == MusicFileKind::Mp3)
            ReadMp3Music(path, *queue, stop);
        else if (kind == MusicFileKind::Wave)
            ReadWaveMusic(path, *queue, stop);
        ended->store(true);
    });
}

void MusicPlayer::Stop()
{
    output_.Reset();
    if (reader_.joinable()) {
        reader_.request_stop();
        stale_.push_back(Reader{std::move(reader_), readerEnded_});
    }
    // Tasks the reader or the output posted for this song are dropped from here on.
    ++generation_;
    // The old queue is left to its reader, which may put one more chunk into it while it
    // stops; the player reads a fresh, empty one until the next Start.
    queue_->Clear();
    queue_ = std::make_shared<ChunkQueue>();
    waitingBuffers_.clear();
    if (state_ != State::Idle)
        state_ = State::Stopped;
    ReapEnded();
}

void MusicPlayer::WriteBuffer(int ring, std::size_t bytes, int userValue)
{
    output_.Write(ring_[static_cast<std::size_t>(ring)].data(), bytes, userValue);
}

void MusicPlayer::Feed()
{
    if (state_ == State::Prefilling) {
        while (prefilled_ < kRingBuffers && !prefillHasLast_) {
            std::optional<MusicChunk> chunk = queue_->TryPop();
            if (!chunk)
                break;
            std::memcpy(ring_[static_cast<std::size_t>(prefilled_)].data(), chunk->pcm.data(), kMusicChunkBytes);
            ++prefilled_;
            prefillHasLast_ = chunk->kind == ChunkKind::Last;
        }
        // A song shorter than ten seconds starts once its last chunk is in.
        if (prefilled_ < kRingBuffers && !prefillHasLast_)
            return;
        for (int i = 0; i < prefilled_; ++i)
            WriteBuffer(i, kMusicChunkBytes, i + 1);
        fillIndex_ = prefilled_ % kRingBuffers;
        state_ = prefillHasLast_ ? State::Finished : State::Playing;
        return;
    }
    while (state_ == State::Playing && !waitingBuffers_.empty()) {
        std::optional<MusicChunk> chunk = queue_->TryPop();
        if (!chunk)
            return;
        const int userValue = waitingBuffers_.front();
        waitingBuffers_.pop_front();
        std::memcpy(ring_[static_cast<std::size_t>(fillIndex_)].data(), chunk->pcm.data(), kMusicChunkBytes);
        WriteBuffer(fillIndex_, kMusicChunkBytes, userValue);
        fillIndex_ = (fillIndex_ + 1) % kRingBuffers;
        if (chunk->kind != ChunkKind::More) {
            state_ = State::Finished;
            waitingBuffers_.clear();
        }
    }
}

void MusicPlayer::BufferDone(int userValue)
{
    if (state_ != State::Playing)
        return;
    waitingBuffers_.push_back(userValue);
    Feed();
}

} // namespace lumivox::ui
