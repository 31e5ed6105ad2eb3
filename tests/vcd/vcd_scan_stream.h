// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Builds small MPEG-1 program streams byte by byte for the scanner tests: pack
// headers, system headers, PES packets with time stamps, video headers and audio frame
// headers, each laid out as ISO/IEC 11172-1/-2/-3 describe them.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace lumivox::test {

using Bytes = std::vector<std::uint8_t>;

inline void Append(Bytes& out, const Bytes& more)
{
    out.insert(out.end(), more.begin(), more.end());
}

// A 33-bit time stamp in the five-byte layout of SCR / PTS with the given 4-bit prefix.
inline Bytes TimeStamp(std::uint8_t prefix, std::uint64_t t)
{
    return {static_cast<std::uint8_t>((prefix << 4) | (((t >> 30) & 7) << 1) | 1), static_cast<std::uint8_t>(t >> 22),
            static_cast<std::uint8_t>(((t >> 15) & 0x7F) << 1 | 1), static_cast<std::uint8_t>(t >> 7),
            static_cast<std::uint8_t>((t & 0x7F) << 1 | 1)};
}

// MPEG-1 pack header (11172-1, 2.4.3.2): 12 bytes.
inline Bytes PackHeader(std::uint64_t scr, std::uint32_t muxRate = 3528 /* ×50 B/s */)
{
    Bytes b = {0, 0, 1, 0xBA};
    Append(b, TimeStamp(0x2, scr));
    b.push_back(static_cast<std::uint8_t>(0x80 | (muxRate >> 15)));
    b.push_back(static_cast<std::uint8_t>(muxRate >> 7));
    b.push_back(static_cast<std::uint8_t>((muxRate << 1) | 1));
    return b;
}

// MPEG-2 pack header (13818-1, 2.5.3.3) with `stuffing` stuffing bytes.
inline Bytes Mpeg2PackHeader(std::uint32_t muxRate, int stuffing)
{
    Bytes b = {0, 0, 1, 0xBA, 0x44, 0, 4, 0, 4, 1};
    b.push_back(static_cast<std::uint8_t>(muxRate >> 14));
    b.push_back(static_cast<std::uint8_t>(muxRate >> 6));
    b.push_back(static_cast<std::uint8_t>((muxRate << 2) | 3));
    b.push_back(static_cast<std::uint8_t>(0xF8 | stuffing));
    for (int i = 0; i < stuffing; ++i)
        b.push_back(0xFF);
    return b;
}

// System header listing the given stream ids.
inline Bytes SystemHeader(const std::vector<std::uint8_t>& streams)
{
    const std::size_t length = 6 + 3 * streams.size();
    Bytes b = {
        0,    0,    1,    0xBB, static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length), 0x80, 0x1B,
        0x91, 0x05, 0xE1, 0xFF};
    for (std::uint8_t id : streams) {
        b.push_back(id);
        b.push_back(0xE0);
        b.push_back(0x2E);
    }
    return b;
}

// PES packet of an MPEG-1 stream with an optional PTS; `length` is the 16-bit field
// unless overridden (to make a packet claim more than it has).
inline Bytes Pes(std::uint8_t streamId, const Bytes& payload, bool withTime = false, std::uint64_t pts = 0,
                 int lengthOverride = -1)
{
    Bytes header;
    if (withTime)
        header = TimeStamp(0x2, pts);
    else
        header = {0x0F};
    const std::size_t length =
        lengthOverride >= 0 ? static_cast<std::size_t>(lengthOverride) : header.size() + payload.size();
    Bytes b = {0, 0, 1, streamId, static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length)};
    Append(b, header);
    Append(b, payload);
    return b;
}

// Padding packet of exactly `total` bytes (at least 6).
inline Bytes Padding(std::size_t total)
{
    const std::size_t length = total - 6;
    Bytes b = {0, 0, 1, 0xBE, static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length)};
    b.resize(total, 0xFF);
    return b;
}

// Pads a pack to `size` bytes with a padding packet (or zero bytes when less than a
// padding packet's header is missing).
inline void FillPack(Bytes& pack, std::size_t size = 2324)
{
    if (pack.size() + 6 <= size)
        Append(pack, Padding(size - pack.size()));
    pack.resize(size, 0);
}

// Video sequence header (11172-2, 2.4.2.3).
inline Bytes SequenceHeader(unsigned width, unsigned height, int rateCode, std::uint32_t bitRate400 = 2875,
                            unsigned vbv = 20)
{
    return {0,
            0,
            1,
            0xB3,
            static_cast<std::uint8_t>(width >> 4),
            static_cast<std::uint8_t>((width << 4) | (height >> 8)),
            static_cast<std::uint8_t>(height),
            static_cast<std::uint8_t>(0xC0 | rateCode),
            static_cast<std::uint8_t>(bitRate400 >> 10),
            static_cast<std::uint8_t>(bitRate400 >> 2),
            static_cast<std::uint8_t>(((bitRate400 & 3) << 6) | 0x20 | (vbv >> 5)),
            static_cast<std::uint8_t>((vbv & 0x1F) << 3)};
}

inline Bytes GroupHeader()
{
    return {0, 0, 1, 0xB8, 0x00, 0x08, 0x00, 0x40};
}

// Picture header with coding type 1 (I), 2 (P) or 3 (B), then a slice start code and
// some slice bytes.
inline Bytes Picture(int type, std::size_t sliceBytes = 64)
{
    Bytes b = {0, 0, 1, 0x00, 0x00, static_cast<std::uint8_t>(type << 3), 0xFF, 0xF8, 0, 0, 1, 0x01};
    for (std::size_t i = 0; i < sliceBytes; ++i)
        b.push_back(static_cast<std::uint8_t>(0x55 + i));
    return b;
}

// MPEG-1 Layer II audio frame header 44.1 kHz, 224 kbit/s (index 11) and the given
// mode, followed by some frame bytes.
inline Bytes AudioFrame(int mode = 0, std::size_t frameBytes = 100)
{
    Bytes b = {0xFF, 0xFD, 0xB0, static_cast<std::uint8_t>((mode << 6) | 0x04)};
    b.resize(4 + frameBytes, 0x24);
    return b;
}

// Writes bytes to a file under the test's temporary folder and returns its path.
inline std::string WriteTempFile(const std::string& name, const Bytes& bytes)
{
    const std::string path = std::string(::testing::TempDir()) + name;
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file) {
        if (!bytes.empty())
            std::fwrite(bytes.data(), 1, bytes.size(), file);
        std::fclose(file);
    }
    return path;
}

} // namespace lumivox::test
