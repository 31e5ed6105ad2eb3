// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The background music player of the disc menu page and the preview: a reader thread
// decodes the music file (MP3 or WAV) into one-second chunks of CD-quality PCM and queues
// them; the owner thread keeps ten one-second buffers written to the wave output and
// refills each as the output returns it.
//
// Nothing here knows Qt Multimedia: the output is a WaveOutput (QtWaveOutput in the
// program, a fake in the tests), and the player is handed a function that runs a task on
// its owner thread, which is how the reader and the output's completion (both on other
// threads) reach it. Nothing on the owner thread ever waits for the reader: a buffer that
// finds no chunk is refilled when the next chunk arrives.

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

namespace lumivox::ui {

// The output format: PCM, 2 channels, 44,100 Hz, 16 bits, 176,400 bytes per second.
inline constexpr int kMusicSampleRate = 44100;
inline constexpr int kMusicChannels = 2;
inline constexpr std::size_t kMusicFrameBytes = 4;
inline constexpr std::size_t kMusicChunkFrames = 44100;
inline constexpr std::size_t kMusicChunkBytes = kMusicChunkFrames * kMusicFrameBytes; // 176,400
// The reader waits while this many chunks (100 seconds) are queued.
inline constexpr std::size_t kMaxQueuedChunks = 100;
// Buffers kept written to the output (ten seconds).
inline constexpr int kRingBuffers = 10;

enum class ChunkKind { More = 1, Last = 2 };

// One second of output-format PCM; the last chunk of a song is padded with silence.
struct MusicChunk {
    ChunkKind kind = ChunkKind::More;
    std::vector<std::uint8_t> pcm; // always kMusicChunkBytes
};

// The queue between the reader thread and the player.
class ChunkQueue {
public:
    // Appends chunk, first waiting while kMaxQueuedChunks are queued. False (chunk
    // dropped) when stop is requested while waiting or before.
    bool Push(MusicChunk&& chunk, std::stop_token stop);
    std::optional<MusicChunk> TryPop();
    void Clear();
    std::size_t Size() const;
    // Called on the reader's thread after every append (not under the queue's lock).
    void SetArrivalCallback(std::function<void()> callback) { arrival_ = std::move(callback); }

private:
    mutable std::mutex mutex_;
    std::condition_variable_any room_;
    std::deque<MusicChunk> chunks_;
    std::function<void()> arrival_;
};

// Which reader a music file gets: its last four characters, lower-cased.
enum class MusicFileKind { None, Mp3, Wave };
MusicFileKind MusicKindOf(const std::string& path);

// The readers, run on the reader thread: each queues the file's chunks, the last of kind
// Last, and returns at the end of the file, at the first thing it cannot read, or when
// stop is requested. A file without usable audio (not RIFF/WAVE, no "fmt " chunk, not
// 16-bit, not one or two channels; no Layer III frame) queues nothing.
void ReadWaveMusic(const std::string& path, ChunkQueue& queue, std::stop_token stop);
void ReadMp3Music(const std::string& path, ChunkQueue& queue, std::stop_token stop);

// The wave output device, opened for the output format above.
class WaveOutput {
public:
    virtual ~WaveOutput() = default;
    virtual bool IsOpen() const = 0;
    // Queues bytes of PCM behind what is queued; data stays valid until the buffer comes
    // back through the completion or Reset is called. userValue identifies the buffer.
    virtual void Write(const std::uint8_t* data, std::size_t bytes, int userValue) = 0;
    // Stops output at once and forgets every queued buffer (no completion follows).
    virtual void Reset() = 0;
    // Set by the player: called, from any thread, when a written buffer has been played.
    void SetCompletion(std::function<void(int userValue)> completion) { completion_ = std::move(completion); }

protected:
    void Completed(int userValue) const
    {
        if (completion_)
            completion_(userValue);
    }

private:
    std::function<void(int)> completion_;
};

class MusicPlayer {
public:
    enum class State {
        Idle, // never started
        Prefilling, // waiting for the first ten seconds
        Playing,
        Finished, // the last chunk is written; the output plays out what it holds
        Stopped,
    };
    // Runs a task on the owner thread, later (never inside the call).
    using Post = std::function<void(std::function<void()>)>;

    // output must be open and outlive the player.
    MusicPlayer(WaveOutput& output, Post post);
    ~MusicPlayer();
    MusicPlayer(const MusicPlayer&) = delete;
    MusicPlayer& operator=(const MusicPlayer&) = delete;

    // Plays the music file at path from its start; what played before is stopped first.
    // Returns at once; the output starts once ten seconds (or the whole of a shorter
    // song) are decoded.
    void Start(const std::string& path);
    // Stops output at once and discards queued music. The reader is told to stop but not
    // waited for: it ends by itself into a queue of its own that no one reads any more, so
    // nothing of this song reaches the next Start; ended readers are reaped at the next
    // Start or Stop, and the rest when the player goes.
    void Stop();

    State CurrentState() const { return state_; }
    // Chunks waiting in the queue (tests).
    std::size_t QueuedChunks() const { return queue_->Size(); }
    // True once the reader thread of the current song has ended.
    bool ReaderEnded() const { return readerEnded_->load(); }
    // Readers of earlier songs that have not ended yet (tests).
    std::size_t StaleReaders() const;

private:
    void Feed();
    void BufferDone(int userValue);
    void WriteBuffer(int ring, std::size_t bytes, int userValue);

    struct Reader {
        std::jthread thread;
        std::shared_ptr<std::atomic<bool>> ended;
    };
    void ReapEnded();

    WaveOutput& output_;
    Post post_;
    // Each song has its own queue, which its reader holds.
    std::shared_ptr<ChunkQueue> queue_;
    std::jthread reader_;
    std::shared_ptr<std::atomic<bool>> readerEnded_;
    std::vector<Reader> stale_;
    std::atomic<unsigned> generation_{0};
    State state_ = State::Idle;
    std::vector<std::vector<std::uint8_t>> ring_;
    int fillIndex_ = 0;
    int prefilled_ = 0;
    bool prefillHasLast_ = false;
    std::deque<int> waitingBuffers_; // user values of played buffers awaiting a chunk
};

} // namespace lumivox::ui
