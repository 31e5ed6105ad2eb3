// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Menu-music conversion: turns the disc menu's music file (MP3 or WAVE) into the MPEG audio
// Layer II file "bkmusic.mp2" that the multiplexer puts under every menu page.
//
// MP3 sources are decoded to the intermediate WAVE file "tmpwav.~av" in the temporary
// folder, then encoded; WAVE sources are encoded directly. There is no sample-rate
// conversion: the Layer II stream keeps the rate and channel count of the source.
//
// All functions run on the calling thread (the production thread, or the command line),
// keep no state between calls, and may run at the same time on different files. Each
// returns true on success; on failure it returns false and, when `error` is given, puts
// one line for the user there naming the file and the reason. A `cancel` flag, when given,
// is polled once per buffer; a set flag ends the call with false and the text
// "cancelled". Files already written are left in place (the next run overwrites them).

#include <atomic>
#include <functional>
#include <string>

namespace lumivox {

// Names of the conversion's files in the temporary folder.
inline constexpr const char* kMusicOutputFormat = "%sbkmusic.mp2";
inline constexpr const char* kMusicIntermediateFormat = "%stmpwav.~av";

// Converts the source to a Layer II file at outputPath. The source's last four
// characters, lower-cased, choose the way: ".mp3" decodes to tempFolder + "tmpwav.~av"
// and encodes that; ".wav" encodes the source itself; anything else fails at once and
// writes nothing. tempFolder is the run's temporary folder (a missing trailing "/" is
// supplied).
bool ConvertBackgroundMusic(const std::string& outputPath, const std::string& sourcePath, const std::string& tempFolder,
                            std::string* error = nullptr, const std::atomic<bool>* cancel = nullptr);

// Decodes the MPEG-1 / MPEG-2 Layer III audio of an MP3 file to a WAVE file of 16-bit PCM
// at the stream's own rate and channel count. An ID3v2 tag at the start is skipped, and
// so is a first frame that carries only a "Xing" VBR header. The WAVE header's sizes are
// completed at the end. False when the source is unreadable, holds no Layer III frame,
// the WAVE file cannot be written, or the decoder refuses the stream.
bool DecodeMp3ToWave(const std::string& sourcePath, const std::string& wavePath, std::string* error = nullptr,
                     const std::atomic<bool>* cancel = nullptr);

// Encodes a WAVE file (or AIFF, or headerless 16-bit stereo 44100 Hz PCM) to MPEG audio
// Layer II with the encoder's default settings: 192 kbit/s at 32, 44.1 and 48 kHz, 96
// kbit/s at 16, 22.05 and 24 kHz, joint stereo (mono for one channel), psychoacoustic
// model 1, no CRC, no emphasis. The last frame is completed with silence. True once the
// output file is closed. False for an input the encoder cannot take: unreadable, not
// 16-bit, not one or two channels, a sample rate outside those six, or no samples; and
// when the output cannot be written.
bool EncodeWaveToMp2(const std::string& wavePath, const std::string& mp2Path, std::string* error = nullptr,
                     const std::atomic<bool>* cancel = nullptr);

// The same with at most maxThreads threads: a long input is encoded in parts at once when
// maxThreads is 2 or more (the plain form takes the process's worker budget). The result
// is the same Layer II stream either way. A part that fails in any way fails the call
// with a message once every part has ended.
bool EncodeWaveToMp2(const std::string& wavePath, const std::string& mp2Path, std::string* error,
                     const std::atomic<bool>* cancel, int maxThreads);

namespace mp2_testing {
// Called at the start of every part of a parted encode with the part's number; a test
// throws from it to check that a failing part fails the call and nothing else.
extern std::function<void(std::size_t part)> partHook;
} // namespace mp2_testing

// Positions fd at the first MPEG audio frame that carries sound, starting from fd's
// current offset: scans blocks of 1441 bytes for a frame sync and steps over frames that
// hold a "Xing" VBR header. Exposed for tests and the fuzz target; DecodeMp3ToWave calls
// it after skipping the ID3v2 tag. Returns false only when fd cannot be read or sought.
bool FirstFrameScan(int fd);

} // namespace lumivox
