// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The wave output of the running program: a Qt Multimedia audio sink in pull mode that
// reads the buffers the music player writes, in order, and reports each one played. The
// sink reads through this QIODevice; while no buffer is queued it reads silence, so the
// sink keeps running while the player waits for the reader.

#include "logic/MusicPlayer.h"

#include <QIODevice>
#include <QObject>

#include <deque>
#include <memory>
#include <mutex>

class QAudioSink;

namespace lumivox::ui {

class QtWaveOutput final : public QIODevice, public WaveOutput {
    Q_OBJECT
public:
    explicit QtWaveOutput(QObject* parent = nullptr);
    ~QtWaveOutput() override;

    // Opens the default audio output for 16-bit stereo PCM at 44,100 Hz. False when the
    // system has no audio output or it refuses the format.
    bool OpenDevice();

    bool IsOpen() const override { return sink_ != nullptr; }
    void Write(const std::uint8_t* data, std::size_t bytes, int userValue) override;
    void Reset() override;

    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override;

protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    struct Buffer {
        const std::uint8_t* data;
        std::size_t bytes;
        std::size_t offset;
        int userValue;
    };
    std::unique_ptr<QAudioSink> sink_;
    mutable std::mutex mutex_;
    std::deque<Buffer> buffers_;
};

} // namespace lumivox::ui
