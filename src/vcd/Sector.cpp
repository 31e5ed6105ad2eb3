// SPDX-License-Identifier: GPL-2.0-or-later
#include "vcd/Sector.h"

#include <cstring>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define LUMIVOX_EDC_CLMUL 1
#endif

namespace lumivox {
namespace {

// Reflected form of the ECMA-130 EDC polynomial 0x8001801B.
constexpr std::uint32_t kEdcPolynomialReflected = 0xD8018001u;

// Sixteen tables so that the EDC of the Form 2 payload (almost every sector of a disc)
// is computed sixteen bytes per step; table 0 is the classic byte-wise table.
struct EdcTables {
    std::uint32_t t[16][256];
    constexpr EdcTables() : t{}
    {
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i;
            for (int bit = 0; bit < 8; ++bit)
                c = (c >> 1) ^ ((c & 1u) ? kEdcPolynomialReflected : 0u);
            t[0][i] = c;
        }
        for (std::uint32_t i = 0; i < 256; ++i)
            for (int k = 1; k < 16; ++k)
                t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFFu];
    }
};
constexpr EdcTables kEdc;

// GF(2^8) with the primitive polynomial x^8 + x^4 + x^3 + x^2 + 1 (ECMA-130 Annex A).
struct GaloisTables {
    std::uint8_t exp[512];
    std::uint8_t log[256];
    constexpr GaloisTables() : exp{}, log{}
    {
        unsigned x = 1;
        for (int i = 0; i < 255; ++i) {
            exp[i] = static_cast<std::uint8_t>(x);
            log[x] = static_cast<std::uint8_t>(i);
            x <<= 1;
            if (x & 0x100u)
                x ^= 0x11Du;
        }
        for (int i = 255; i < 512; ++i)
            exp[i] = exp[i - 255];
    }
};
constexpr GaloisTables kGf;

constexpr std::uint8_t GfMultiply(std::uint8_t a, std::uint8_t b)
{
    if (a == 0 || b == 0)
        return 0;
    return kGf.exp[kGf.log[a] + kGf.log[b]];
}
constexpr std::uint8_t GfDivide(std::uint8_t a, std::uint8_t b)
{
    if (a == 0)
        return 0;
    return kGf.exp[kGf.log[a] + 255 - kGf.log[b]];
}
constexpr std::uint8_t kAlpha = 2;
constexpr std::uint8_t kAlphaSquared = 4;
constexpr std::uint8_t kAlphaPlusOne = 3;

// Sector bytes 12..2351 seen as 1,170 16-bit words; each byte plane (even and odd bytes)
// is coded on its own (ECMA-130 Annex A).
constexpr std::size_t kParityAreaOffset = 12;
constexpr std::size_t kWordCount = 1170;
constexpr std::size_t kPParityWord = 1032; // P parity at words 1032..1117 (bytes 2076..2247)
constexpr std::size_t kQParityWord = 1118; // Q parity at words 1118..1169 (bytes 2248..2351)

// Computes the two parity symbols of one RS codeword of data symbols d[0..k-1] followed by
// p0, p1, for the checks sum(c) = 0 and sum(alpha^(n-1-i) c_i) = 0 with n = k + 2.
inline void RsParity(const std::uint8_t* area, const std::size_t* wordIndex, std::size_t k, std::size_t plane,
                     std::uint8_t& p0, std::uint8_t& p1)
{
    std::uint8_t sum = 0;
    std::uint8_t horner = 0;
    for (std::size_t i = 0; i < k; ++i) {
        const std::uint8_t d = area[2 * wordIndex[i] + plane];
        sum ^= d;
        horner = static_cast<std::uint8_t>(GfMultiply(horner, kAlpha) ^ d);
    }
    // Weighted sum B = alpha^2 * horner; p0 (weight alpha) and p1 (weight 1) satisfy
    // p0 + p1 = A and alpha p0 + p1 = B.
    const std::uint8_t weighted = GfMultiply(horner, kAlphaSquared);
    p0 = GfDivide(static_cast<std::uint8_t>(sum ^ weighted), kAlphaPlusOne);
    p1 = static_cast<std::uint8_t>(sum ^ p0);
}

} // namespace

Msf AddressToMsf(std::uint32_t absoluteAddress)
{
    Msf msf;
    msf.minute = static_cast<std::uint8_t>(absoluteAddress / 4500u);
    msf.second = static_cast<std::uint8_t>((absoluteAddress / 75u) % 60u);
    msf.frame = static_cast<std::uint8_t>(absoluteAddress % 75u);
    return msf;
}

std::uint8_t ToBcd(unsigned value)
{
    return static_cast<std::uint8_t>(((value / 10u) % 10u) << 4 | (value % 10u));
}

void WriteBcdAddress(std::uint8_t* out, std::uint32_t sectorNumber)
{
    const Msf msf = AddressToMsf(sectorNumber + kSectorAddressOffset);
    out[0] = ToBcd(msf.minute);
    out[1] = ToBcd(msf.second);
    out[2] = ToBcd(msf.frame);
}

namespace {

std::uint32_t TableEdc(const std::uint8_t* data, std::size_t size, std::uint32_t edc)
{
    while (size >= 16) {
        const std::uint32_t low = edc ^ (std::uint32_t(data[0]) | std::uint32_t(data[1]) << 8 |
                                         std::uint32_t(data[2]) << 16 | std::uint32_t(data[3]) << 24);
        edc = kEdc.t[15][low & 0xFF] ^ kEdc.t[14][(low >> 8) & 0xFF] ^ kEdc.t[13][(low >> 16) & 0xFF] ^
              kEdc.t[12][low >> 24] ^ kEdc.t[11][data[4]] ^ kEdc.t[10][data[5]] ^ kEdc.t[9][data[6]] ^
              kEdc.t[8][data[7]] ^ kEdc.t[7][data[8]] ^ kEdc.t[6][data[9]] ^ kEdc.t[5][data[10]] ^ kEdc.t[4][data[11]] ^
              kEdc.t[3][data[12]] ^ kEdc.t[2][data[13]] ^ kEdc.t[1][data[14]] ^ kEdc.t[0][data[15]];
        data += 16;
        size -= 16;
    }
    while (size >= 8) {
        const std::uint32_t low = edc ^ (std::uint32_t(data[0]) | std::uint32_t(data[1]) << 8 |
                                         std::uint32_t(data[2]) << 16 | std::uint32_t(data[3]) << 24);
        edc = kEdc.t[7][low & 0xFF] ^ kEdc.t[6][(low >> 8) & 0xFF] ^ kEdc.t[5][(low >> 16) & 0xFF] ^
              kEdc.t[4][low >> 24] ^ kEdc.t[3][data[4]] ^ kEdc.t[2][data[5]] ^ kEdc.t[1][data[6]] ^ kEdc.t[0][data[7]];
        data += 8;
        size -= 8;
    }
    while (size-- > 0)
        edc = kEdc.t[0][(edc ^ *data++) & 0xFFu] ^ (edc >> 8);
    return edc;
}

#if LUMIVOX_EDC_CLMUL
// The EDC by carry-less multiplication: four 128-bit lanes are folded forward 64 bytes
// at a time, then into one lane, then reduced to 32 bits (Barrett). Every sector of a
// disc has its EDC computed, and this runs an order of magnitude faster than the tables.
// Constants for the reflected polynomial: k = bit-reflected (x^e mod P) shifted left once,
// for e = 544, 480 (four-lane fold), 160, 96 (one-lane fold) and 64; then P itself and
// floor(x^64 / P), both reflected over 33 bits. Takes a multiple of 16 bytes, at least 64.
__attribute__((target("pclmul,sse4.1"))) inline __m128i Fold(__m128i lane, __m128i k, __m128i next)
{
    return _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(lane, k, 0x11), _mm_clmulepi64_si128(lane, k, 0x00)), next);
}

__attribute__((target("pclmul,sse4.1"))) std::uint32_t ClmulEdc(const std::uint8_t* data, std::size_t size,
                                                                std::uint32_t edc)
{
    alignas(16) static const std::uint64_t k1k2[] = {0x1F8931102u, 0x12E7928A2u};
    alignas(16) static const std::uint64_t k3k4[] = {0x06C90C100u, 0x1D5934102u};
    alignas(16) static const std::uint64_t k5k0[] = {0x1F1030002u, 0};
    alignas(16) static const std::uint64_t poly[] = {0x1B0030003u, 0x17000FFFFu};
#define load(p) _mm_loadu_si128(reinterpret_cast<const __m128i*>(p))

    __m128i x1 = _mm_xor_si128(load(data), _mm_cvtsi32_si128(static_cast<int>(edc)));
    __m128i x2 = load(data + 16), x3 = load(data + 32), x4 = load(data + 48);
    __m128i x0 = _mm_load_si128(reinterpret_cast<const __m128i*>(k1k2));
    data += 64;
    size -= 64;
    while (size >= 64) {
        const __m128i x5 = _mm_clmulepi64_si128(x1, x0, 0x00), x6 = _mm_clmulepi64_si128(x2, x0, 0x00);
        const __m128i x7 = _mm_clmulepi64_si128(x3, x0, 0x00), x8 = _mm_clmulepi64_si128(x4, x0, 0x00);
        x1 = _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x1, x0, 0x11), x5), load(data));
        x2 = _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x2, x0, 0x11), x6), load(data + 16));
        x3 = _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x3, x0, 0x11), x7), load(data + 32));
        x4 = _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x4, x0, 0x11), x8), load(data + 48));
        data += 64;
        size -= 64;
    }
    x0 = _mm_load_si128(reinterpret_cast<const __m128i*>(k3k4));
    x1 = Fold(x1, x0, x2);
    x1 = Fold(x1, x0, x3);
    x1 = Fold(x1, x0, x4);
    while (size >= 16) {
        x1 = Fold(x1, x0, load(data));
        data += 16;
        size -= 16;
    }
    // 128 bits to 64, then 64 to 32.
    const __m128i mask32 = _mm_setr_epi32(-1, 0, -1, 0);
    x2 = _mm_clmulepi64_si128(x1, x0, 0x10);
    x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), x2);
    x0 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(k5k0));
    x2 = _mm_srli_si128(x1, 4);
    x1 = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x1, mask32), x0, 0x00), x2);
    x0 = _mm_load_si128(reinterpret_cast<const __m128i*>(poly));
    x2 = _mm_clmulepi64_si128(_mm_and_si128(x1, mask32), x0, 0x10);
    x2 = _mm_clmulepi64_si128(_mm_and_si128(x2, mask32), x0, 0x00);
    x1 = _mm_xor_si128(x1, x2);
    return static_cast<std::uint32_t>(_mm_extract_epi32(x1, 1));
#undef load
}

const bool kHaveClmul = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
#endif

} // namespace

std::uint32_t ComputeEdc(const std::uint8_t* data, std::size_t size, std::uint32_t edc)
{
#if LUMIVOX_EDC_CLMUL
    if (size >= 64 && kHaveClmul) {
        const std::size_t folded = size & ~std::size_t(15);
        edc = ClmulEdc(data, folded, edc);
        data += folded;
        size -= folded;
    }
#endif
    return TableEdc(data, size, edc);
}

void ComputeForm1Parity(std::uint8_t* sector)
{
    std::uint8_t header[4];
    std::memcpy(header, sector + 12, 4);
    std::memset(sector + 12, 0, 4);
    std::uint8_t* area = sector + kParityAreaOffset;

    // P parity: 43 columns of 24 data words; column n holds words 43 m + n.
    std::size_t index[43];
    for (std::size_t column = 0; column < 43; ++column) {
        for (std::size_t m = 0; m < 24; ++m)
            index[m] = 43 * m + column;
        for (std::size_t plane = 0; plane < 2; ++plane) {
            std::uint8_t p0, p1;
            RsParity(area, index, 24, plane, p0, p1);
            area[2 * (kPParityWord + column) + plane] = p0;
            area[2 * (kPParityWord + 43 + column) + plane] = p1;
        }
    }
    // Q parity: 26 diagonals of 43 words; diagonal n holds words (44 m + 43 n) mod 1118.
    for (std::size_t diagonal = 0; diagonal < 26; ++diagonal) {
        for (std::size_t m = 0; m < 43; ++m)
            index[m] = (44 * m + 43 * diagonal) % kQParityWord;
        for (std::size_t plane = 0; plane < 2; ++plane) {
            std::uint8_t q0, q1;
            RsParity(area, index, 43, plane, q0, q1);
            area[2 * (kQParityWord + diagonal) + plane] = q0;
            area[2 * (kQParityWord + 26 + diagonal) + plane] = q1;
        }
    }
    static_assert(kQParityWord + 52 == kWordCount);
    std::memcpy(sector + 12, header, 4);
}

void FinishMode2Sector(std::uint8_t* s, std::uint32_t sectorNumber, std::uint8_t fileNumber, std::uint8_t channel,
                       std::uint8_t submode, std::uint8_t coding)
{
    // Sync pattern (ECMA-130 14.2): 00, ten FF bytes, 00.
    s[0] = 0x00;
    std::memset(s + 1, 0xFF, 10);
    s[11] = 0x00;
    s[12] = s[13] = s[14] = 0;
    s[15] = 2; // mode 2
    s[16] = s[20] = fileNumber;
    s[17] = s[21] = channel;
    s[18] = s[22] = submode;
    s[19] = s[23] = coding;

    if (submode & kSubmodeForm2) {
        const std::uint32_t edc = ComputeEdc(s + 16, 2348 - 16);
        s[2348] = static_cast<std::uint8_t>(edc);
        s[2349] = static_cast<std::uint8_t>(edc >> 8);
        s[2350] = static_cast<std::uint8_t>(edc >> 16);
        s[2351] = static_cast<std::uint8_t>(edc >> 24);
    } else {
        const std::uint32_t edc = ComputeEdc(s + 16, 2072 - 16);
        s[2072] = static_cast<std::uint8_t>(edc);
        s[2073] = static_cast<std::uint8_t>(edc >> 8);
        s[2074] = static_cast<std::uint8_t>(edc >> 16);
        s[2075] = static_cast<std::uint8_t>(edc >> 24);
        ComputeForm1Parity(s);
    }
    WriteBcdAddress(s + 12, sectorNumber);
}

void MakeMode2Sector(RawSector& out, const std::uint8_t* userData, std::uint32_t sectorNumber, std::uint8_t fileNumber,
                     std::uint8_t channel, std::uint8_t submode, std::uint8_t coding)
{
    const std::size_t size = (submode & kSubmodeForm2) ? kForm2DataSize : kForm1DataSize;
    if (userData)
        std::memcpy(out.data() + 24, userData, size);
    else
        std::memset(out.data() + 24, 0, size);
    FinishMode2Sector(out.data(), sectorNumber, fileNumber, channel, submode, coding);
}

} // namespace lumivox
