// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Shared helpers of the encoder tests: frames in bitmap layout, an MPEG-1 sequence-header
// and pack reader of our own, and ffmpeg/ffprobe as the independent decoder.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace lumivox::test {

struct Rgb {
    int r, g, b;
};

// A device-independent bitmap block: 40-byte header, palette (or colour masks), pixel
// rows padded to 4 bytes and stored bottom row first.
struct DibFrame {
    int width = 0;
    int height = 0;
    int bitsPerPixel = 0;
    std::vector<std::uint8_t> header;
    std::vector<std::uint8_t> palette;
    std::vector<std::uint8_t> pixels;
    const std::uint8_t* Palette() const { return palette.empty() ? nullptr : palette.data(); }
};

// A 24- or 32-bit frame whose pixel (x, y from the top) is colour(x, y). At 32 bits the
// fourth byte is `alpha`.
DibFrame MakeFrame(int width, int height, int bitsPerPixel, const std::function<Rgb(int x, int y)>& colour,
                   std::uint8_t alpha = 0);
// Writes the header fields only (for refusal tests).
std::vector<std::uint8_t> MakeHeader(int width, int height, int bitsPerPixel, std::uint32_t compression = 0,
                                     std::uint32_t coloursUsed = 0);

// A photo-like synthetic picture: smooth light gradients, soft texture, a few hard edges.
Rgb PhotoLikeColour(int x, int y, int width, int height);

struct SequenceHeader {
    bool found = false;
    int width = 0;
    int height = 0;
    int aspectCode = 0;
    int frameRateCode = 0;
    std::uint32_t bitRate400 = 0; // in units of 400 bit/s
    int vbvBufferSize = 0; // in units of 16 Kbit
};
SequenceHeader ParseSequenceHeader(const std::vector<std::uint8_t>& stream);

std::vector<std::uint8_t> ReadFile(const std::filesystem::path& path);
void WriteFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes);

// A fresh folder under the system temporary folder, removed at the end of the test.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }
    const std::filesystem::path& Path() const { return path_; }

private:
    std::filesystem::path path_;
};

bool HaveFfmpeg();
// Runs a shell command; returns its standard output and sets the exit status.
std::string RunCommand(const std::string& command, int* status = nullptr);
std::string Quote(const std::string& text);

// Decodes the first picture of a stream to raw 4:2:0 planes (Y, then Cb, then Cr).
bool DecodeYuv420(const std::filesystem::path& file, int width, int height, std::vector<std::uint8_t>& yuv);
double Psnr(const std::uint8_t* a, const std::uint8_t* b, std::size_t count);

// One line per stream from ffprobe: "codec_type,codec_name,width,height,...".
std::vector<std::string> ProbeStreams(const std::filesystem::path& file);

// Program-stream walk: every pack must start at a multiple of 2,324 bytes.
struct PackWalk {
    std::size_t packs = 0;
    std::string firstProblem; // empty when every pack is where it belongs
    std::vector<int> streamIds; // distinct PES stream ids, in order of first appearance
    std::size_t audioPayloadBytes = 0;
};
PackWalk WalkPacks(const std::vector<std::uint8_t>& file, std::size_t packSize);

// The program folder's copy of an installed data file.
std::filesystem::path InstalledFile(const std::string& name);

} // namespace lumivox::test
