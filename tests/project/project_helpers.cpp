// SPDX-License-Identifier: GPL-2.0-or-later
#include "project/project_helpers.h"

#include "picture/PLTextException.h"

#include <atomic>
#include <cstdint>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace lumivox::test {

namespace {

void Put16(std::string& out, unsigned value)
{
    out += static_cast<char>(value & 0xFF);
    out += static_cast<char>((value >> 8) & 0xFF);
}

void Put32(std::string& out, std::uint32_t value)
{
    Put16(out, value & 0xFFFF);
    Put16(out, value >> 16);
}

} // namespace

ScratchFolder::ScratchFolder()
{
    static std::atomic<int> counter{0};
    folder_ = std::filesystem::temp_directory_path() /
              ("lumivox-project-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    std::filesystem::remove_all(folder_);
    std::filesystem::create_directories(folder_);
}

ScratchFolder::~ScratchFolder()
{
    std::error_code ec;
    std::filesystem::remove_all(folder_, ec);
}

void WriteBmp24(const std::string& path, int width, int height)
{
    const int stride = (width * 3 + 3) & ~3;
    const std::uint32_t pixelBytes = static_cast<std::uint32_t>(stride * height);
    std::string bmp = "BM";
    Put32(bmp, 14 + 40 + pixelBytes); // file size
    Put32(bmp, 0); // reserved
    Put32(bmp, 14 + 40); // offset of the pixels
    Put32(bmp, 40); // BITMAPINFOHEADER
    Put32(bmp, static_cast<std::uint32_t>(width));
    Put32(bmp, static_cast<std::uint32_t>(height)); // positive: bottom row first
    Put16(bmp, 1); // planes
    Put16(bmp, 24); // bits per pixel
    Put32(bmp, 0); // no compression
    Put32(bmp, pixelBytes);
    Put32(bmp, 2835); // 72 dpi
    Put32(bmp, 2835);
    Put32(bmp, 0);
    Put32(bmp, 0);
    for (int row = height - 1; row >= 0; --row) {
        std::string line;
        for (int x = 0; x < width; ++x) {
            line += static_cast<char>(x & 0xFF); // blue
            line += static_cast<char>(row & 0xFF); // green
            line += static_cast<char>(200); // red
        }
        line.resize(static_cast<std::size_t>(stride), '\0');
        bmp += line;
    }
    // Pad small pictures past the size under which files are not identified.
    if (bmp.size() < 1024)
        bmp.resize(1024, '\0');
    WriteText(path, bmp);
}

std::string ReadText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteText(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

PictureDecoder FakeDecoder(int width, int height)
{
    return [width, height](const std::string& path, PicBitmap& target) {
        if (path.find("bad") != std::string::npos)
            throw PLTextException(PL_ERRUNKNOWN_FILE_TYPE, "Unknown file type.");
        target.Create(width, height, 32, false);
    };
}

} // namespace lumivox::test
