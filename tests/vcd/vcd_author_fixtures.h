// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Small Video CD segment files for the authoring tests, built pack by pack the way a
// Video CD multiplexer lays them out: every pack 2,324 bytes, one PES packet per pack.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace lumivox::authortest {

using Bytes = std::vector<std::uint8_t>;
constexpr std::size_t kPack = 2324;

inline void PutTimeStamp(Bytes& b, std::uint8_t prefix, std::uint64_t t)
{
    b.push_back(static_cast<std::uint8_t>((prefix << 4) | (((t >> 30) & 7) << 1) | 1));
    b.push_back(static_cast<std::uint8_t>(t >> 22));
    b.push_back(static_cast<std::uint8_t>(((t >> 15) & 0x7F) << 1 | 1));
    b.push_back(static_cast<std::uint8_t>(t >> 7));
    b.push_back(static_cast<std::uint8_t>((t & 0x7F) << 1 | 1));
}

// One 2,324-byte pack holding one PES packet of `streamId` (0xBE: padding) with the
// payload at its start and filler after it; a presentation time (90 kHz) when pts >= 0.
inline Bytes MakePack(std::uint8_t streamId, long long pts, const Bytes& payload, std::uint64_t scr)
{
    Bytes b = {0, 0, 1, 0xBA};
    PutTimeStamp(b, 0x2, scr);
    const std::uint32_t muxRate = 3528;
    b.push_back(static_cast<std::uint8_t>(0x80 | (muxRate >> 15)));
    b.push_back(static_cast<std::uint8_t>(muxRate >> 7));
    b.push_back(static_cast<std::uint8_t>((muxRate << 1) | 1));
    const std::size_t pesLength = kPack - b.size() - 6;
    b.insert(b.end(),
             {0, 0, 1, streamId, static_cast<std::uint8_t>(pesLength >> 8), static_cast<std::uint8_t>(pesLength)});
    if (streamId != 0xBE) {
        if (pts >= 0)
            PutTimeStamp(b, 0x2, static_cast<std::uint64_t>(pts));
        else
            b.push_back(0x0F);
    }
    b.insert(b.end(), payload.begin(), payload.end());
    // Video filler must not form start codes; audio and padding take plain bytes.
    b.resize(kPack, streamId >= 0xE0 ? 0xFF : (streamId == 0xBE ? 0xFF : 0x00));
    return b;
}

inline Bytes SequenceHeader(unsigned width, unsigned height, int rateCode)
{
    return {0, 0, 1, 0xB3, static_cast<std::uint8_t>(width >> 4),
            static_cast<std::uint8_t>((width & 15) << 4 | height >> 8), static_cast<std::uint8_t>(height),
            static_cast<std::uint8_t>(0x10 | rateCode), 0x03, 0x70, 0x2A, 0x20,
            // picture start, I picture
            0, 0, 1, 0x00, 0x00, 0x0F, 0xFF, 0xF8};
}

struct SegmentSpec {
    bool pal = false;
    int normalStillPackets = 1; // stream 0xE1
    int highStillPackets = 2; // stream 0xE2
    int audioPackets = 0; // stream 0xC0, one a second from the first presentation time
    int audioMode = 0; // header mode bits: 0 stereo, 1 joint, 2 dual, 3 single
    int paddingPackets = 0; // trailing padding packs
    int motionPackets = 0; // stream 0xE0 (instead of stills when nonzero)
};

// A segment: normal-resolution still, high-resolution still (each ending in a sequence end
// code), then audio packets, then padding.
inline Bytes MakeSegment(const SegmentSpec& spec)
{
    Bytes file;
    std::uint64_t scr = 0;
    const long long first = 45000; // 0.5 s
    auto stream = [&](std::uint8_t id, int packets, unsigned w, unsigned h) {
        for (int i = 0; i < packets; ++i) {
            Bytes payload;
            if (i == 0)
                payload = SequenceHeader(w, h, spec.pal ? 3 : 4);
            if (i == packets - 1 && id != 0xE0)
                payload.insert(payload.end(), {0, 0, 1, 0xB7});
            const Bytes pack = MakePack(id, i == 0 ? first : -1, payload, scr);
            scr += 600;
            file.insert(file.end(), pack.begin(), pack.end());
        }
    };
    if (spec.motionPackets > 0) {
        stream(0xE0, spec.motionPackets, 352, spec.pal ? 288 : 240);
    } else {
        stream(0xE1, spec.normalStillPackets, 352, spec.pal ? 288 : 240);
        stream(0xE2, spec.highStillPackets, 704, spec.pal ? 576 : 480);
    }
    for (int i = 0; i < spec.audioPackets; ++i) {
        const Bytes header = {0xFF, 0xFD, 0xA0, static_cast<std::uint8_t>(spec.audioMode << 6 | 0x04)};
        const Bytes pack = MakePack(0xC0, first + 90000LL * i, header, scr);
        scr += 600;
        file.insert(file.end(), pack.begin(), pack.end());
    }
    for (int i = 0; i < spec.paddingPackets; ++i) {
        const Bytes pack = MakePack(0xBE, -1, {}, scr);
        file.insert(file.end(), pack.begin(), pack.end());
    }
    return file;
}

inline void WriteFile(const std::filesystem::path& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << "cannot write " << path;
}

inline Bytes ReadFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// A fresh folder under the system's temporary folder, removed at the end of the test.
class TempFolder {
public:
    TempFolder()
    {
        char pattern[] = "/tmp/lumivox-vcd-XXXXXX";
        const char* made = ::mkdtemp(pattern);
        path_ = made ? made : "/tmp";
    }
    ~TempFolder()
    {
        std::error_code ec;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ec);
        std::filesystem::remove_all(path_, ec);
    }
    const std::filesystem::path& Path() const { return path_; }
    std::string Slash() const { return path_.string() + "/"; }

private:
    std::filesystem::path path_;
};

// Writes the files of a project layout: menu pages, slides and the MPEG track.
inline void WriteProjectFiles(const std::string& work, const std::string& program, const std::vector<int>& pictures,
                              int perPage, bool pal)
{
    const int albums = static_cast<int>(pictures.size());
    const int pages = albums / perPage + (albums % perPage ? 1 : 0);
    char name[64];
    SegmentSpec still;
    still.pal = pal;
    for (int page = 1; page <= pages; ++page) {
        std::snprintf(name, sizeof name, "menu_%02d.mpg", page);
        WriteFile(work + name, MakeSegment(still));
    }
    for (int a = 0; a < albums; ++a)
        for (int q = 1; q <= pictures[a]; ++q) {
            std::snprintf(name, sizeof name, "menu_%02d_pic_%02d.mpg", a + 1, q);
            WriteFile(work + name, MakeSegment(still));
        }
    SegmentSpec track;
    track.pal = pal;
    track.motionPackets = 20;
    track.audioPackets = 3;
    WriteFile(program + (pal ? "avseq01.npal" : "avseq01.ntsc"), MakeSegment(track));
}

} // namespace lumivox::authortest
