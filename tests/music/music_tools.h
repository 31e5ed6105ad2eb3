// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Shared by the MPEG audio decoder and music conversion tests: a scratch folder, running
// ffmpeg / ffprobe (the independent encoder and reader), and small file helpers.

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace lumivox::test {

inline std::string ShellQuote(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}

// Runs a shell command; returns its exit status and, when asked, its standard output.
inline int RunCommand(const std::string& command, std::string* output = nullptr)
{
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return -1;
    std::string text;
    char chunk[4096];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0)
        text.append(chunk, got);
    const int status = pclose(pipe);
    if (output)
        *output = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline bool HaveTool(const std::string& name)
{
    return RunCommand("command -v " + name + " >/dev/null 2>&1") == 0;
}

// True when ffmpeg, ffprobe and an MP3 encoder (libmp3lame) are present.
inline bool HaveFfmpegMp3()
{
    static const bool have = [] {
        if (!HaveTool("ffmpeg") || !HaveTool("ffprobe"))
            return false;
        std::string encoders;
        RunCommand("ffmpeg -hide_banner -encoders 2>/dev/null", &encoders);
        return encoders.find("libmp3lame") != std::string::npos;
    }();
    return have;
}

#define LUMIVOX_REQUIRE_FFMPEG()                                                                                       \
    do {                                                                                                               \
        if (!::lumivox::test::HaveFfmpegMp3())                                                                         \
            GTEST_SKIP() << "ffmpeg with libmp3lame and ffprobe are not installed";                                    \
    } while (0)

// Runs ffmpeg quietly with the given arguments; fails the test when it does not succeed.
inline bool Ffmpeg(const std::string& arguments)
{
    std::string output;
    const int status = RunCommand("ffmpeg -nostdin -hide_banner -loglevel error -y " + arguments + " 2>&1", &output);
    EXPECT_EQ(status, 0) << "ffmpeg " << arguments << "\n" << output;
    return status == 0;
}

// A music-like test signal: a chord with some noise, so that every encoder works for real
// (a pure tone lets readers mistake the first frames for junk).
inline std::string TestSignal(int sampleRate, double seconds)
{
    std::ostringstream filter;
    filter << "-f lavfi -i \"aevalsrc=0.25*sin(2*PI*220*t)+0.2*sin(2*PI*277*t)+0.15*sin(2*PI*330*t):s=" << sampleRate
           << ":d=" << seconds << "\" -f lavfi -i \"anoisesrc=c=pink:r=" << sampleRate << ":a=0.05:seed=1:d=" << seconds
           << "\" -filter_complex amix=inputs=2:normalize=0";
    return filter.str();
}

// What ffprobe says about the first audio stream.
struct ProbedAudio {
    std::string codec;
    int sampleRate = 0;
    int channels = 0;
    long bitRate = 0;
    long packets = 0;
    double duration = 0;
    std::string raw;
};

inline ProbedAudio Probe(const std::string& path)
{
    ProbedAudio probed;
    RunCommand("ffprobe -v error -select_streams a:0 -count_packets -show_entries "
               "stream=codec_name,sample_rate,channels,bit_rate,nb_read_packets,duration "
               "-of default=noprint_wrappers=1 " +
                   ShellQuote(path) + " 2>&1",
               &probed.raw);
    std::istringstream lines(probed.raw);
    std::string line;
    while (std::getline(lines, line)) {
        const auto equals = line.find('=');
        if (equals == std::string::npos)
            continue;
        const std::string key = line.substr(0, equals);
        const std::string value = line.substr(equals + 1);
        if (key == "codec_name")
            probed.codec = value;
        else if (key == "sample_rate")
            probed.sampleRate = std::atoi(value.c_str());
        else if (key == "channels")
            probed.channels = std::atoi(value.c_str());
        else if (key == "bit_rate")
            probed.bitRate = std::atol(value.c_str());
        else if (key == "nb_read_packets")
            probed.packets = std::atol(value.c_str());
        else if (key == "duration")
            probed.duration = std::atof(value.c_str());
    }
    return probed;
}

inline std::vector<std::uint8_t> ReadBytes(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(file)), {});
}

inline void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline std::uint32_t LittleEndian32(const std::vector<std::uint8_t>& bytes, std::size_t at)
{
    return bytes[at] | (std::uint32_t(bytes[at + 1]) << 8) | (std::uint32_t(bytes[at + 2]) << 16) |
           (std::uint32_t(bytes[at + 3]) << 24);
}

inline std::uint16_t LittleEndian16(const std::vector<std::uint8_t>& bytes, std::size_t at)
{
    return static_cast<std::uint16_t>(bytes[at] | (bytes[at + 1] << 8));
}

// A folder removed with its contents when the test ends.
class ScratchDir {
public:
    ScratchDir()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "lumivox-audio-test-XXXXXX").string();
        if (mkdtemp(pattern.data()))
            path_ = pattern;
    }
    ~ScratchDir()
    {
        std::error_code ignored;
        if (!path_.empty())
            std::filesystem::remove_all(path_, ignored);
    }
    // The folder with a trailing "/", as the temporary folder is held.
    std::string Folder() const { return path_ + "/"; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

} // namespace lumivox::test
