// SPDX-License-Identifier: GPL-2.0-or-later
// Mode 2 sectors checked from the decoder's side: the EDC and the P/Q parity are verified by
// recomputing the syndromes a CD-ROM drive would compute, not by re-running the encoder.
#include "vcd/Sector.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

using namespace lumivox;

namespace {

// Bit-serial CRC over the ECMA-130 EDC polynomial; over the data followed by its stored EDC
// (little-endian) the remainder of a correct sector is zero.
std::uint32_t BitwiseEdc(const std::uint8_t* data, std::size_t size)
{
    std::uint32_t reg = 0;
    for (std::size_t i = 0; i < size; ++i) {
        for (int bit = 0; bit < 8; ++bit) {
            const std::uint32_t in = (data[i] >> bit) & 1u;
            const std::uint32_t out = (reg ^ in) & 1u;
            reg >>= 1;
            if (out)
                reg ^= 0xD8018001u; // x^32+x^31+x^16+x^15+x^4+x^3+x+1, reflected
        }
    }
    return reg;
}

// GF(2^8) multiply by shift-and-add over x^8+x^4+x^3+x^2+1, without tables.
std::uint8_t Mul(std::uint8_t a, std::uint8_t b)
{
    unsigned r = 0, x = a;
    for (int i = 0; i < 8; ++i) {
        if (b & (1u << i))
            r ^= x;
        x <<= 1;
        if (x & 0x100u)
            x ^= 0x11Du;
    }
    return static_cast<std::uint8_t>(r);
}
std::uint8_t Power(int e)
{
    std::uint8_t r = 1;
    for (int i = 0; i < e; ++i)
        r = Mul(r, 2);
    return r;
}

// Syndromes of every P and Q codeword (ECMA-130 Annex A parity check matrices); returns the
// number of codewords with a nonzero syndrome.
int BadCodewords(const RawSector& sector)
{
    std::vector<std::uint8_t> s(sector.begin(), sector.end());
    s[12] = s[13] = s[14] = s[15] = 0; // Mode 2: header excluded from the parity
    auto word = [&](std::size_t w, int plane) { return s[12 + 2 * w + plane]; };
    int bad = 0;
    for (int plane = 0; plane < 2; ++plane) {
        for (std::size_t n = 0; n < 43; ++n) {
            std::uint8_t s0 = 0, s1 = 0;
            for (int m = 0; m < 26; ++m) {
                const std::uint8_t c = word(43 * m + n, plane);
                s0 ^= c;
                s1 ^= Mul(Power(25 - m), c);
            }
            bad += (s0 || s1);
        }
        for (std::size_t n = 0; n < 26; ++n) {
            std::uint8_t s0 = 0, s1 = 0;
            for (int m = 0; m < 45; ++m) {
                const std::size_t w = m < 43 ? (44 * m + 43 * n) % 1118 : 1118 + 26 * (m - 43) + n;
                const std::uint8_t c = word(w, plane);
                s0 ^= c;
                s1 ^= Mul(Power(44 - m), c);
            }
            bad += (s0 || s1);
        }
    }
    return bad;
}

std::vector<std::uint8_t> RandomBytes(std::size_t n, unsigned seed)
{
    std::mt19937 gen(seed);
    std::vector<std::uint8_t> v(n);
    for (auto& b : v)
        b = static_cast<std::uint8_t>(gen());
    return v;
}

} // namespace

TEST(VcdSector, BcdAddressesOfWorkedExamples)
{
    struct Case {
        std::uint32_t sector;
        std::uint8_t m, s, f;
    };
    const Case cases[] = {
        {0, 0x00, 0x02, 0x00}, // first sector of the image
        {16, 0x00, 0x02, 0x16}, // primary volume descriptor
        {75, 0x00, 0x03, 0x00}, // 225 = 3 s
        {4350, 0x01, 0x00, 0x00}, // 4500 = 1 min
    };
    for (const Case& c : cases) {
        std::uint8_t out[3];
        WriteBcdAddress(out, c.sector);
        EXPECT_EQ(out[0], c.m) << "sector " << c.sector;
        EXPECT_EQ(out[1], c.s) << "sector " << c.sector;
        EXPECT_EQ(out[2], c.f) << "sector " << c.sector;
    }
    for (std::uint32_t n : {0u, 74u, 4349u, 123456u, 359999u}) {
        std::uint8_t out[3];
        WriteBcdAddress(out, n);
        const std::uint32_t a = n + 150;
        auto bcd = [](unsigned v) { return static_cast<std::uint8_t>((v / 10) * 16 + v % 10); };
        EXPECT_EQ(out[0], bcd(a / 4500)) << n;
        EXPECT_EQ(out[1], bcd(a / 75 % 60)) << n;
        EXPECT_EQ(out[2], bcd(a % 75)) << n;
    }
}

TEST(VcdSector, Form1HeaderEdcAndParity)
{
    const auto data = RandomBytes(kForm1DataSize, 1);
    RawSector sector;
    MakeMode2Sector(sector, data.data(), 16, 0, 0, 0x89, 0);
    const std::uint8_t head[] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00,
                                 0x00, 0x02, 0x16, 0x02, 0x00, 0x00, 0x89, 0x00, 0x00, 0x00, 0x89, 0x00};
    for (std::size_t i = 0; i < sizeof head; ++i)
        EXPECT_EQ(sector[i], head[i]) << "byte " << i;
    EXPECT_TRUE(std::equal(data.begin(), data.end(), sector.begin() + 24));
    EXPECT_EQ(BitwiseEdc(sector.data() + 16, 2076 - 16), 0u) << "EDC remainder must be zero";
    EXPECT_EQ(BadCodewords(sector), 0);

    // A flipped byte anywhere in the protected area is seen by the EDC and by the parity.
    for (std::size_t offset :
         {std::size_t(24), std::size_t(1000), std::size_t(2071), std::size_t(2100), std::size_t(2300)}) {
        RawSector damaged = sector;
        damaged[offset] ^= 0x5A;
        EXPECT_GT(BadCodewords(damaged), 0) << "flip at " << offset;
        if (offset < 2076) {
            EXPECT_NE(BitwiseEdc(damaged.data() + 16, 2076 - 16), 0u) << "flip at " << offset;
        }
    }
    // The header is outside the parity: another address leaves the parity valid.
    RawSector moved;
    MakeMode2Sector(moved, data.data(), 5000, 0, 0, 0x89, 0);
    EXPECT_TRUE(std::equal(sector.begin() + 16, sector.end(), moved.begin() + 16));
}

TEST(VcdSector, Form1ZeroAndPatternSectorsDecode)
{
    for (unsigned seed = 0; seed < 6; ++seed) {
        std::vector<std::uint8_t> data = seed == 0 ? std::vector<std::uint8_t>(2048, 0) : RandomBytes(2048, seed + 10);
        RawSector sector;
        MakeMode2Sector(sector, seed == 0 ? nullptr : data.data(), seed * 777, seed, seed, 0x08, 0);
        EXPECT_EQ(BitwiseEdc(sector.data() + 16, 2076 - 16), 0u) << "seed " << seed;
        EXPECT_EQ(BadCodewords(sector), 0) << "seed " << seed;
    }
}

TEST(VcdSector, Form2HasEdcOverPayloadAndNoParity)
{
    const auto data = RandomBytes(kForm2DataSize, 2);
    RawSector sector;
    MakeMode2Sector(sector, data.data(), 225, 1, 3, 0x62 | 0x80, 0x3F);
    EXPECT_EQ(sector[15], 2);
    const std::uint8_t sub[] = {1, 3, 0xE2, 0x3F};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(sector[16 + i], sub[i]);
        EXPECT_EQ(sector[20 + i], sub[i]);
    }
    EXPECT_TRUE(std::equal(data.begin(), data.end(), sector.begin() + 24));
    EXPECT_EQ(BitwiseEdc(sector.data() + 16, kRawSectorSize - 16), 0u);
    RawSector damaged = sector;
    damaged[24 + 2000] ^= 1;
    EXPECT_NE(BitwiseEdc(damaged.data() + 16, kRawSectorSize - 16), 0u);
    // Address 00:05:00 for sector 225.
    EXPECT_EQ(sector[12], 0x00);
    EXPECT_EQ(sector[13], 0x05);
    EXPECT_EQ(sector[14], 0x00);
}

TEST(VcdSector, EdcMatchesBitSerialForAllLengths)
{
    // Past 64 bytes the computation switches to folding whole 16-byte blocks with a byte tail.
    const auto data = RandomBytes(2400, 3);
    for (std::size_t n = 0; n <= data.size(); n += n < 300 ? 1 : 97) {
        // Appending the EDC little-endian must leave a zero remainder.
        std::vector<std::uint8_t> buffer(data.begin(), data.begin() + n);
        const std::uint32_t edc = ComputeEdc(buffer.data(), n);
        for (int i = 0; i < 4; ++i)
            buffer.push_back(static_cast<std::uint8_t>(edc >> (8 * i)));
        EXPECT_EQ(BitwiseEdc(buffer.data(), buffer.size()), 0u) << "length " << n;
    }
}

TEST(VcdSector, EdcContinuesFromAPartialValue)
{
    const auto data = RandomBytes(2332, 4);
    for (const std::size_t split : {0u, 1u, 15u, 64u, 100u, 1024u, 2331u, 2332u}) {
        const std::uint32_t whole = ComputeEdc(data.data(), data.size());
        const std::uint32_t parts =
            ComputeEdc(data.data() + split, data.size() - split, ComputeEdc(data.data(), split));
        EXPECT_EQ(parts, whole) << "split at " << split;
    }
}
