// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Stand-ins for the parts of the desktop program that talk to the user or the machine:
// message boxes, file choosers, the wave output and the recorder backend.

#include "logic/MusicPlayer.h"
#include "services/FileChooser.h"
#include "services/MessageBoxes.h"
#include "services/RecorderSetup.h"

#include <QCoreApplication>
#include <QDataStream>
#include <QFile>
#include <QDeadlineTimer>
#include <QStringList>
#include <QThread>

#include <atomic>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

namespace lumivox::test {

// Records every message and answers questions from a script.
class FakeMessageBoxes final : public ui::MessageBoxes {
public:
    void Information(QWidget*, const QString& text) override { shown << text; }
    void Warning(QWidget*, const QString& text) override { shown << text; }
    bool Question(QWidget*, const QString& text) override
    {
        shown << text;
        return questionAnswer;
    }
    ui::SaveChoice AskSaveChanges(QWidget*, const QString& text) override
    {
        asked << text;
        return saveAnswer;
    }
    ui::ChangedChoice AskChangedOnDisk(QWidget*, const QString& text) override
    {
        asked << text;
        return changedAnswer;
    }

    QStringList shown;
    QStringList asked;
    bool questionAnswer = false;
    ui::SaveChoice saveAnswer = ui::SaveChoice::Cancel;
    ui::ChangedChoice changedAnswer = ui::ChangedChoice::Cancel;
};

// Gives preset answers; an empty string is the user cancelling.
class FakeFileChooser final : public ui::FileChooser {
public:
    QString OpenProject(QWidget*) override
    {
        ++openCalls;
        return openAnswer;
    }
    QString SaveProject(QWidget*, const QString&) override
    {
        ++saveCalls;
        return saveAnswer;
    }
    QStringList OpenPictures(QWidget*) override { return pictures; }
    QString Folder(QWidget*, const QString& start) override
    {
        folderStart = start;
        return folderAnswer;
    }

    QString openAnswer;
    QString saveAnswer;
    QStringList pictures;
    QString SaveDiscImage(QWidget*, const QString&) override
    {
        ++imageCalls;
        return imageAnswer;
    }

    QString folderAnswer;
    QString folderStart;
    QString imageAnswer;
    int imageCalls = 0;
    int openCalls = 0;
    int saveCalls = 0;
};

// Keeps what is written; the test decides when a buffer has been played.
class FakeWaveOutput final : public ui::WaveOutput {
public:
    struct Written {
        std::vector<std::uint8_t> pcm;
        int userValue;
    };
    bool IsOpen() const override { return open; }
    void Write(const std::uint8_t* data, std::size_t bytes, int userValue) override
    {
        written.push_back({std::vector<std::uint8_t>(data, data + bytes), userValue});
        queued.push_back(userValue);
    }
    void Reset() override
    {
        ++resets;
        queued.clear();
    }
    // The device finished the oldest queued buffer.
    void PlayOne()
    {
        if (queued.empty())
            return;
        const int userValue = queued.front();
        queued.pop_front();
        Completed(userValue);
    }

    bool open = true;
    std::vector<Written> written;
    std::deque<int> queued;
    int resets = 0;
};

// A recorder backend with preset drives and results.
class FakeRecorderBackend final : public ui::RecorderBackend {
public:
    bool OpenTransport() override { return transportOk; }
    std::vector<ui::RecorderDrive> ScanDrives() override
    {
        ++scans;
        if (onScan)
            onScan(); // a drive that takes its time to answer
        return drives;
    }
    bool CreateDriver(const ui::RecorderDrive&, int writingMode) override
    {
        if (onCreateDriver)
            onCreateDriver(); // a drive that takes its time to answer
        driverModes.push_back(writingMode);
        return driverOk;
    }
    void Release() override { ++releases; }

    bool transportOk = true;
    bool driverOk = true;
    std::vector<ui::RecorderDrive> drives;
    std::vector<int> driverModes;
    int releases = 0;
    std::atomic<int> scans{0};
    std::function<void()> onScan;
    std::function<void()> onCreateDriver;
};

// Starts the window's look for the recorders and lets the event loop run until the
// window has taken what the look found (the look itself runs on a worker).
template <typename Window>
bool SetUpRecordersAndWait(Window& window)
{
    window.SetUpRecorders();
    QDeadlineTimer deadline(20000);
    while (window.IsLookingForRecorders() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return !window.IsLookingForRecorders();
}

// Runs posted tasks on the test's thread, as the event loop would for the program.
class TaskQueue {
public:
    ui::MusicPlayer::Post Poster()
    {
        return [this](std::function<void()> task) {
            std::lock_guard lock(mutex_);
            tasks_.push_back(std::move(task));
        };
    }
    // Runs tasks until done() holds; false when it does not within the time limit.
    bool RunUntil(const std::function<bool()>& done, int limitMilliseconds = 20000)
    {
        QDeadlineTimer deadline(limitMilliseconds);
        while (!done()) {
            if (deadline.hasExpired())
                return false;
            if (!RunPending())
                QThread::msleep(1);
        }
        return true;
    }
    bool RunPending()
    {
        std::deque<std::function<void()>> tasks;
        {
            std::lock_guard lock(mutex_);
            tasks.swap(tasks_);
        }
        for (auto& task : tasks)
            task();
        return !tasks.empty();
    }

private:
    std::mutex mutex_;
    std::deque<std::function<void()>> tasks_;
};

// A short 16-bit (or 8-bit) PCM WAV file of silence.
inline QString WriteWave(const QString& path, int bits)
{
    const int rate = 44100, channels = 2, frames = 4410;
    const int block = channels * bits / 8;
    QByteArray data(frames * block, bits == 8 ? char(0x80) : char(0));
    QByteArray wave;
    QDataStream out(&wave, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    out.writeRawData("RIFF", 4);
    out << quint32(36 + data.size());
    out.writeRawData("WAVEfmt ", 8);
    out << quint32(16) << quint16(1) << quint16(channels) << quint32(rate) << quint32(rate * block) << quint16(block)
        << quint16(bits);
    out.writeRawData("data", 4);
    out << quint32(data.size());
    out.writeRawData(data.constData(), data.size());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(wave);
    return path;
}

} // namespace lumivox::test
