// SPDX-License-Identifier: GPL-2.0-or-later
#include "services/QtWaveOutput.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QMediaDevices>
#include <QMetaObject>

#include <cstring>

namespace lumivox::ui {

QtWaveOutput::QtWaveOutput(QObject* parent) : QIODevice(parent)
{ }

QtWaveOutput::~QtWaveOutput()
{
    if (sink_)
        sink_->stop();
}

bool QtWaveOutput::OpenDevice()
{
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (device.isNull())
        return false;
    QAudioFormat format;
    format.setSampleRate(kMusicSampleRate);
    format.setChannelCount(kMusicChannels);
    format.setSampleFormat(QAudioFormat::Int16);
    if (!device.isFormatSupported(format))
        return false;
    sink_ = std::make_unique<QAudioSink>(device, format);
    // A quarter of a second in the sink; the ten seconds of the ring stay with us.
    sink_->setBufferSize(static_cast<qsizetype>(kMusicChunkBytes / 4));
    // Unbuffered: a buffer counts as played only once the sink itself has read it.
    open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    return true;
}

void QtWaveOutput::Write(const std::uint8_t* data, std::size_t bytes, int userValue)
{
    bool wasEmpty;
    {
        std::lock_guard lock(mutex_);
        wasEmpty = buffers_.empty();
        buffers_.push_back({data, bytes, 0, userValue});
    }
    if (!sink_)
        return;
    if (sink_->state() == QAudio::StoppedState)
        sink_->start(this);
    else if (wasEmpty)
        emit readyRead();
}

void QtWaveOutput::Reset()
{
    {
        std::lock_guard lock(mutex_);
        buffers_.clear();
    }
    if (sink_)
        sink_->stop();
}

qint64 QtWaveOutput::bytesAvailable() const
{
    std::lock_guard lock(mutex_);
    qint64 total = 0;
    for (const Buffer& buffer : buffers_)
        total += static_cast<qint64>(buffer.bytes - buffer.offset);
    return total + QIODevice::bytesAvailable();
}

qint64 QtWaveOutput::readData(char* data, qint64 maxSize)
{
    qint64 done = 0;
    std::vector<int> completed;
    {
        std::lock_guard lock(mutex_);
        while (done < maxSize && !buffers_.empty()) {
            Buffer& buffer = buffers_.front();
            const std::size_t take =
                std::min<std::size_t>(buffer.bytes - buffer.offset, static_cast<std::size_t>(maxSize - done));
            std::memcpy(data + done, buffer.data + buffer.offset, take);
            buffer.offset += take;
            done += static_cast<qint64>(take);
            if (buffer.offset == buffer.bytes) {
                completed.push_back(buffer.userValue);
                buffers_.pop_front();
            }
        }
    }
    // Silence while the player waits for the reader keeps the sink running.
    if (done < maxSize && completed.empty() && done == 0) {
        std::memset(data, 0, static_cast<std::size_t>(maxSize));
        done = maxSize;
    }
    for (int userValue : completed)
        Completed(userValue);
    return done;
}

} // namespace lumivox::ui
