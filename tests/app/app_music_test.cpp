// SPDX-License-Identifier: GPL-2.0-or-later
// The background music player: readers, chunking, resampling, the ten-buffer ring and
// Start/Stop, with a fake wave output.

#include "app_fakes.h"

#include "logic/MusicPlayer.h"
#include "production/WaveFile.h"
#include "services/MusicService.h"
#include "services/QtWaveOutput.h"

#include <QTemporaryDir>
#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QtTest>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <numbers>

using namespace lumivox;
using namespace lumivox::ui;
using lumivox::test::FakeWaveOutput;
using lumivox::test::TaskQueue;

namespace {

// 16-bit samples of a sine of frequency Hz, channels values per frame (all alike).
std::vector<std::int16_t> Sine(int rate, int channels, double seconds, double frequency, double amplitude = 12000)
{
    const auto frames = static_cast<std::size_t>(std::llround(rate * seconds));
    std::vector<std::int16_t> samples(frames * channels);
    for (std::size_t i = 0; i < frames; ++i) {
        const auto value = static_cast<std::int16_t>(
            std::lround(amplitude * std::sin(2 * std::numbers::pi * frequency * static_cast<double>(i) / rate)));
        for (int c = 0; c < channels; ++c)
            samples[i * channels + c] = value;
    }
    return samples;
}

// A counting ramp, so that every second of a stereo 44.1 kHz file is recognisable.
std::vector<std::int16_t> Ramp(std::size_t frames, int channels, int start = 1)
{
    std::vector<std::int16_t> samples(frames * channels);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<std::int16_t>(((static_cast<int>(i) + start) % 30000) + 1);
    return samples;
}

void WriteWave(const QString& path, int rate, int channels, const std::vector<std::int16_t>& samples, int bits = 16)
{
    std::ofstream out(path.toStdString(), std::ios::binary);
    if (bits == 8) {
        const auto header =
            MakeWaveHeader(kWaveFormatPcm, channels, rate, 8, static_cast<std::uint32_t>(samples.size()));
        out.write(reinterpret_cast<const char*>(header.data()), header.size());
        for (std::int16_t s : samples)
            out.put(static_cast<char>((s >> 8) + 128));
        return;
    }
    const auto header =
        MakeWaveHeader(kWaveFormatPcm, channels, rate, 16, static_cast<std::uint32_t>(samples.size() * 2));
    out.write(reinterpret_cast<const char*>(header.data()), header.size());
    out.write(reinterpret_cast<const char*>(samples.data()), static_cast<std::streamsize>(samples.size() * 2));
}

std::vector<MusicChunk> ReadAll(const QString& path)
{
    ChunkQueue queue;
    std::stop_source stop;
    if (MusicKindOf(path.toStdString()) == MusicFileKind::Mp3)
        ReadMp3Music(path.toStdString(), queue, stop.get_token());
    else
        ReadWaveMusic(path.toStdString(), queue, stop.get_token());
    std::vector<MusicChunk> chunks;
    while (auto chunk = queue.TryPop())
        chunks.push_back(std::move(*chunk));
    return chunks;
}

const std::int16_t* Samples(const MusicChunk& chunk)
{
    return reinterpret_cast<const std::int16_t*>(chunk.pcm.data());
}

// The frequency of a channel of a stereo chunk, from its upward zero crossings.
double MeasureFrequency(const MusicChunk& chunk, int channel)
{
    const std::int16_t* s = Samples(chunk);
    int crossings = 0;
    std::size_t first = 0;
    std::size_t last = 0;
    for (std::size_t i = 1; i < kMusicChunkFrames; ++i) {
        if (s[(i - 1) * 2 + channel] < 0 && s[i * 2 + channel] >= 0) {
            if (crossings == 0)
                first = i;
            last = i;
            ++crossings;
        }
    }
    if (crossings < 2)
        return 0;
    return (crossings - 1) * static_cast<double>(kMusicSampleRate) / static_cast<double>(last - first);
}

bool HaveMp3Encoder()
{
    return std::system("ffmpeg -hide_banner -encoders 2>/dev/null | grep -q libmp3lame") == 0;
}

} // namespace

class MusicPlayerTest : public QObject {
    Q_OBJECT
private slots:
    void init() { QVERIFY(dir_.isValid()); }

    void extensionChoosesReader_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("kind");
        QTest::newRow("wav") << "/m/song.wav" << int(MusicFileKind::Wave);
        QTest::newRow("WAV in capitals") << "/m/SONG.WAV" << int(MusicFileKind::Wave);
        QTest::newRow("Mp3 mixed case") << "/m/song.Mp3" << int(MusicFileKind::Mp3);
        QTest::newRow("ogg") << "/m/song.ogg" << int(MusicFileKind::None);
        QTest::newRow("no extension") << "wav" << int(MusicFileKind::None);
        QTest::newRow("wave") << "/m/song.wave" << int(MusicFileKind::None);
    }
    void extensionChoosesReader()
    {
        QFETCH(QString, path);
        QFETCH(int, kind);
        QCOMPARE(int(MusicKindOf(path.toStdString())), kind);
    }

    // 2.5 seconds of 44.1 kHz stereo: two full chunks and a last one half silence.
    void twoAndAHalfSecondsGiveThreeChunks()
    {
        const QString path = dir_.filePath("ramp.wav");
        const auto samples = Ramp(44100 * 5 / 2, 2);
        WriteWave(path, 44100, 2, samples);
        const auto chunks = ReadAll(path);
        QCOMPARE(chunks.size(), std::size_t(3));
        QCOMPARE(int(chunks[0].kind), int(ChunkKind::More));
        QCOMPARE(int(chunks[1].kind), int(ChunkKind::More));
        QCOMPARE(int(chunks[2].kind), int(ChunkKind::Last));
        for (std::size_t c = 0; c < chunks.size(); ++c) {
            QCOMPARE(chunks[c].pcm.size(), kMusicChunkBytes);
            const std::int16_t* s = Samples(chunks[c]);
            const std::size_t values = kMusicChunkFrames * 2;
            for (std::size_t i = 0; i < values; ++i) {
                const std::size_t source = c * values + i;
                const std::int16_t expected = source < samples.size() ? samples[source] : 0;
                if (s[i] != expected)
                    QFAIL(qPrintable(
                        QString("chunk %1 value %2: %3, expected %4").arg(c).arg(i).arg(s[i]).arg(expected)));
            }
        }
    }

    // A file of whole seconds still ends with a chunk marked last.
    void wholeSecondsEndWithLastChunk()
    {
        const QString path = dir_.filePath("two.wav");
        WriteWave(path, 44100, 1, Ramp(44100 * 2, 1));
        const auto chunks = ReadAll(path);
        QCOMPARE(chunks.size(), std::size_t(2));
        QCOMPARE(int(chunks[1].kind), int(ChunkKind::Last));
        // Mono is played on both channels.
        const std::int16_t* s = Samples(chunks[0]);
        QCOMPARE(s[0], s[1]);
        QCOMPARE(s[200], s[201]);
    }

    // Mono 22.05 kHz comes out as 44.1 kHz stereo at the same pitch.
    void resampledMonoKeepsPitch_data()
    {
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("channels");
        QTest::addColumn<double>("frequency");
        QTest::newRow("mono 22050 Hz, 1 kHz") << 22050 << 1 << 1000.0;
        QTest::newRow("stereo 48000 Hz, 440 Hz") << 48000 << 2 << 440.0;
        QTest::newRow("mono 11025 Hz, 300 Hz") << 11025 << 1 << 300.0;
    }
    void resampledMonoKeepsPitch()
    {
        QFETCH(int, rate);
        QFETCH(int, channels);
        QFETCH(double, frequency);
        const QString path = dir_.filePath("tone.wav");
        WriteWave(path, rate, channels, Sine(rate, channels, 3.0, frequency));
        const auto chunks = ReadAll(path);
        // Three seconds at the output rate: three chunks, the last one padded.
        QVERIFY2(chunks.size() == 3 || chunks.size() == 4, qPrintable(QString::number(chunks.size())));
        QCOMPARE(int(chunks.back().kind), int(ChunkKind::Last));
        const double left = MeasureFrequency(chunks[1], 0);
        const double right = MeasureFrequency(chunks[1], 1);
        QVERIFY2(std::abs(left - frequency) < frequency * 0.005,
                 qPrintable(QString("left channel at %1 Hz, expected %2 Hz").arg(left).arg(frequency)));
        QVERIFY2(std::abs(right - frequency) < frequency * 0.005,
                 qPrintable(QString("right channel at %1 Hz, expected %2 Hz").arg(right).arg(frequency)));
    }

    // Files the player cannot use give no chunk, and nothing breaks.
    void unusableFilesGiveNothing_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        const auto header = [](int channels, int rate, int bits, std::uint32_t dataBytes) {
            const auto h = MakeWaveHeader(kWaveFormatPcm, channels, rate, bits, dataBytes);
            return QByteArray(reinterpret_cast<const char*>(h.data()), int(h.size()));
        };
        QTest::newRow("not RIFF") << QByteArray("RIFX\x10\0\0\0WAVEfmt ", 16);
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("no channels") << header(0, 44100, 16, 4) + QByteArray(4, 'a');
        QTest::newRow("three channels") << header(3, 44100, 16, 6) + QByteArray(6, 'a');
        QTest::newRow("rate 0") << header(2, 0, 16, 4) + QByteArray(4, 'a');
        QTest::newRow("rate 4 GHz") << header(2, int(0xF0000000u), 16, 4) + QByteArray(4, 'a');
        QTest::newRow("24-bit") << header(2, 44100, 24, 6) + QByteArray(6, 'a');
        QByteArray shortFormat("RIFF\x1a\0\0\0WAVEfmt \x0e\0\0\0\x01\0\x02\0\x44\xac\0\0\x10\xb1\x02\0\x04\0", 34);
        QTest::newRow("14-byte fmt without bits") << shortFormat;
        QTest::newRow("data before fmt") << QByteArray("RIFF\x14\0\0\0WAVEdata\x04\0\0\0abcd", 24);
    }
    void unusableFilesGiveNothing()
    {
        QFETCH(QByteArray, bytes);
        const QString path = dir_.filePath("bad.wav");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        file.close();
        QCOMPARE(ReadAll(path).size(), std::size_t(0));
    }

    // An 8-bit WAV plays nothing: the player waits silently until Stop.
    void eightBitPlaysNothing()
    {
        const QString path = dir_.filePath("eight.wav");
        WriteWave(path, 44100, 2, Sine(44100, 2, 1.5, 440), 8);
        FakeWaveOutput output;
        TaskQueue tasks;
        MusicPlayer player(output, tasks.Poster());
        player.Start(path.toStdString());
        QVERIFY(tasks.RunUntil([&] { return player.ReaderEnded(); }));
        tasks.RunPending();
        QCOMPARE(output.written.size(), std::size_t(0));
        QCOMPARE(int(player.CurrentState()), int(MusicPlayer::State::Prefilling));
        player.Stop();
        QCOMPARE(int(player.CurrentState()), int(MusicPlayer::State::Stopped));
    }

    // A FIFO named as music is refused like any file that is not a regular one: the reader
    // ends at once instead of waiting for a writer, and Stop and Start go on.
    void fifoPlaysNothingAndNeverBlocks()
    {
        const QString fifo = dir_.filePath("pipe.wav");
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        FakeWaveOutput output;
        TaskQueue tasks;
        MusicPlayer player(output, tasks.Poster());
        player.Start(fifo.toStdString());
        const bool ended = tasks.RunUntil([&] { return player.ReaderEnded(); });
        // A reader stuck in open() would be let go by a writer, so the test ends either way.
        const int writer = ::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK);
        if (writer >= 0)
            ::close(writer);
        QVERIFY(ended);
        QVERIFY(writer < 0); // no reader was waiting on the FIFO
        player.Stop();
        player.Start(fifo.toStdString());
        player.Stop();
        QCOMPARE(output.written.size(), std::size_t(0));
    }

    // Ten buffers are written at the start; each one played is refilled with the next
    // second under its user value, and the last chunk finishes the song.
    void ringRefillsInOrder()
    {
        const QString path = dir_.filePath("twelve.wav");
        const auto samples = Ramp(44100 * 12, 2);
        WriteWave(path, 44100, 2, samples);
        FakeWaveOutput output;
        TaskQueue tasks;
        MusicPlayer player(output, tasks.Poster());
        player.Start(path.toStdString());
        QVERIFY(tasks.RunUntil([&] { return output.written.size() == 10; }));
        QCOMPARE(int(player.CurrentState()), int(MusicPlayer::State::Playing));
        for (int i = 0; i < 10; ++i)
            QCOMPARE(output.written[std::size_t(i)].userValue, i + 1);
        output.PlayOne();
        QVERIFY(tasks.RunUntil([&] { return output.written.size() == 11; }));
        QCOMPARE(output.written[10].userValue, 1);
        const std::int16_t* eleventh = reinterpret_cast<const std::int16_t*>(output.written[10].pcm.data());
        QCOMPARE(eleventh[0], samples[10 * kMusicChunkFrames * 2]);
        output.PlayOne();
        QVERIFY(tasks.RunUntil([&] { return output.written.size() == 12; }));
        QCOMPARE(output.written[11].userValue, 2);
        QCOMPARE(int(player.CurrentState()), int(MusicPlayer::State::Finished));
        // Finished: a further played buffer writes nothing.
        output.PlayOne();
        tasks.RunPending();
        QCOMPARE(output.written.size(), std::size_t(12));
    }

    // A song shorter than the ten-second ring still plays.
    void shortSongPlays()
    {
        const QString path = dir_.filePath("short.wav");
        WriteWave(path, 44100, 2, Ramp(44100 * 5 / 2, 2));
        FakeWaveOutput output;
        TaskQueue tasks;
        MusicPlayer player(output, tasks.Poster());
        player.Start(path.toStdString());
        QVERIFY(tasks.RunUntil([&] { return output.written.size() == 3; }));
        QCOMPARE(int(player.CurrentState()), int(MusicPlayer::State::Finished));
    }

    // Stop while the reader is filling the queue returns at once and leaves nothing of
    // the old song for the next Start.
    void stopDuringPrefillLeavesNothing()
    {
        const QString longSong = dir_.filePath("long.wav");
        WriteWave(longSong, 44100, 2, Ramp(44100 * 120, 2, 7));
        const QString next = dir_.filePath("next.wav");
        const auto nextSamples = Sine(44100, 2, 2.5, 660);
        WriteWave(next, 44100, 2, nextSamples);

        FakeWaveOutput output;
        TaskQueue tasks;
        MusicPlayer player(output, tasks.Poster());
        player.Start(longSong.toStdString());
        // Let the reader fill the queue to its limit without the owner taking anything.
        QVERIFY(tasks.RunUntil([&] { return player.QueuedChunks() >= kMaxQueuedChunks; }, 60000) ||
                player.QueuedChunks() > 0);
        const auto before = std::chrono::steady_clock::now();
        player.Stop();
        const auto waited = std::chrono::steady_clock::now() - before;
        QVERIFY2(waited < std::chrono::seconds(5), "Stop waited for the reader to finish the song");
        QTRY_COMPARE(player.StaleReaders(), std::size_t(0)); // it ends by itself
        QCOMPARE(player.QueuedChunks(), std::size_t(0));

        // Tasks posted for the old song are still waiting; they must change nothing.
        output.written.clear();
        player.Start(next.toStdString());
        QVERIFY(tasks.RunUntil([&] { return player.CurrentState() == MusicPlayer::State::Finished; }));
        QCOMPARE(output.written.size(), std::size_t(3));
        const std::int16_t* first = reinterpret_cast<const std::int16_t*>(output.written[0].pcm.data());
        for (int i = 0; i < 64; ++i)
            QCOMPARE(first[i], nextSamples[std::size_t(i)]);
    }

    void mp3Plays()
    {
        if (!HaveMp3Encoder())
            QSKIP("ffmpeg with libmp3lame is not installed");
        const QString wav = dir_.filePath("tone_src.wav");
        WriteWave(wav, 44100, 2, Sine(44100, 2, 3.0, 440));
        const QString mp3 = dir_.filePath("tone.mp3");
        const QString command =
            QString("ffmpeg -nostdin -hide_banner -loglevel error -y -i '%1' -c:a libmp3lame -b:a 128k '%2'")
                .arg(wav, mp3);
        QCOMPARE(std::system(command.toLocal8Bit().constData()), 0);
        FakeWaveOutput output;
        TaskQueue tasks;
        MusicPlayer player(output, tasks.Poster());
        player.Start(mp3.toStdString());
        QVERIFY(tasks.RunUntil([&] { return player.CurrentState() == MusicPlayer::State::Finished; }));
        // Three seconds and the encoder's padding: three or four chunks.
        QVERIFY2(output.written.size() == 3 || output.written.size() == 4,
                 qPrintable(QString::number(output.written.size())));
        MusicChunk second{ChunkKind::More, output.written[1].pcm};
        const double frequency = MeasureFrequency(second, 0);
        QVERIFY2(std::abs(frequency - 440) < 3, qPrintable(QString("%1 Hz").arg(frequency)));
    }

    // The audio sink's side of the Qt output: buffers are read in order, across read
    // sizes that do not match them, each reported once it has been read entirely, and
    // silence is read while nothing is queued.
    void qtOutputReadsBuffersInOrder()
    {
        QtWaveOutput output;
        QVERIFY(output.open(QIODevice::ReadOnly | QIODevice::Unbuffered));
        std::vector<int> completed;
        output.SetCompletion([&](int userValue) { completed.push_back(userValue); });
        const std::vector<std::uint8_t> first(10, 1), second(6, 2);
        output.Write(first.data(), first.size(), 7);
        output.Write(second.data(), second.size(), 8);
        QCOMPARE(output.bytesAvailable(), qint64(16));
        const QByteArray a = output.read(4);
        QCOMPARE(a, QByteArray(4, 1));
        QVERIFY(completed.empty());
        const QByteArray b = output.read(9);
        QCOMPARE(b, QByteArray(6, 1) + QByteArray(3, 2));
        QCOMPARE(completed, std::vector<int>{7});
        const QByteArray c = output.read(3);
        QCOMPARE(c, QByteArray(3, 2));
        QCOMPARE(completed, (std::vector<int>{7, 8}));
        const QByteArray silence = output.read(8);
        QCOMPARE(silence, QByteArray(8, 0));
        // Reset forgets what is queued without reporting it.
        output.Write(first.data(), first.size(), 9);
        output.Reset();
        QCOMPARE(output.bytesAvailable(), qint64(0));
        QCOMPARE(completed, (std::vector<int>{7, 8}));
    }

private:
    QTemporaryDir dir_;
};

QTEST_GUILESS_MAIN(MusicPlayerTest)
#include "app_music_test.moc"
