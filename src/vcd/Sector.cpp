#include "vcd/Sector.h"

#include <cstring>

namespace lumivox {
namespace {

// Reflected form of the ECMA-130 EDC polynomial 0x8001801B.
constexpr std::uint32_t kEdcPolynomialReflected = 0xD8018001u;

// Sixteen tables so that the EDC of the Form 2 payload (almost every sector of a disc)
// is computed sixteen bytes per step; table 0 is the classic byte-wise table.
struct EdcTables {
    std::uint32_t t[16][256];
    constexpr EdcTables() : t{} {
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i;
            for (int bit = 0; bit < 8; ++bit) c = (c >> 1) ^ ((c & 1u) ? kEdcPolynomialReflected : 0u);
            t[0][i] = c;
        }
        for (std::uint32_t i = 0; i < 256; ++i)
            for (int k = 1; k < 16; ++k) t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFFu];
    }
};
constexpr EdcTables kEdc;

// GF(2^8) with the primitive polynomial x^8 + x^4 + x^3 + x^2 + 1 (ECMA-130 Annex A).
struct GaloisTables {
    std::uint8_t exp[512];
    std::uint8_t log[256];
    constexpr GaloisTables() : exp{}, log{} {
        unsigned x = 1;
        for (int i = 0; i < 255; ++i) {
            exp[i] = static_cast<std::uint8_t>(x);
            log[x] = static_cast<std::uint8_t>(i);
            x <<= 1;
            if (x & 0x100u) x ^= 0x11Du;
        }
        for (int i = 255; i < 512; ++i) exp[i] = exp[i - 255];
    }
};
constexpr GaloisTables kGf;

constexpr std::uint8_t GfMultiply(std::uint8_t a, std::uint8_t b) {
    if (a == 0 || b == 0) return 0;
    return kGf.exp[kGf.log[a] + kGf.log[b]];
}
constexpr std::uint8_t GfDivide(std::uint8_t a, std::uint8_t b) {
    if (a == 0) return 0;
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
inline void RsParity(const std::uint8_t* area, const std::size_t* wordIndex, std::size_t k,
                     std::size_t plane, std::uint8_t& p0, std::uint8_t& p1) {
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

Msf AddressToMsf(std::uint32_t absoluteAddress) {
    Msf msf;
    msf.minute = static_cast<std::uint8_t>(absoluteAddress / 4500u);
    msf.second = static_cast<std::uint8_t>((absoluteAddress / 75u) % 60u);
    msf.frame = static_cast<std::uint8_t>(absoluteAddress % 75u);
    return msf;
}

std::uint8_t ToBcd(unsigned value) {
    return static_cast<std::uint8_t>(((value / 10u) % 10u) << 4 | (value % 10u));
}

void WriteBcdAddress(std::uint8_t* out, std::uint32_t sectorNumber) {
    const Msf msf = AddressToMsf(sectorNumber + kSectorAddressOffset);
    out[0] = ToBcd(msf.minute);
    out[1] = ToBcd(msf.second);
    out[2] = ToBcd(msf.frame);
}

std::uint32_t ComputeEdc(const std::uint8_t* data, std::size_t size, std::uint32_t edc) {
    while (size >= 16) {
        const std::uint32_t low = edc ^ (std::uint32_t(data[0]) | std::uint32_t(data[1]) << 8 |
                                         std::uint32_t(data[2]) << 16 | std::uint32_t(data[3]) << 24);
        edc = kEdc.t[15][low & 0xFF] ^ kEdc.t[14][(low >> 8) & 0xFF] ^ kEdc.t[13][(low >> 16) & 0xFF] ^
              kEdc.t[12][low >> 24] ^ kEdc.t[11][data[4]] ^ kEdc.t[10][data[5]] ^ kEdc.t[9][data[6]] ^
              kEdc.t[8][data[7]] ^ kEdc.t[7][data[8]] ^ kEdc.t[6][data[9]] ^ kEdc.t[5][data[10]] ^
              kEdc.t[4][data[11]] ^ kEdc.t[3][data[12]] ^ kEdc.t[2][data[13]] ^ kEdc.t[1][data[14]] ^
              kEdc.t[0][data[15]];
        data += 16;
        size -= 16;
    }
    while (size >= 8) {
        const std::uint32_t low = edc ^ (std::uint32_t(data[0]) | std::uint32_t(data[1]) << 8 |
                                         std::uint32_t(data[2]) << 16 | std::uint32_t(data[3]) << 24);
        edc = kEdc.t[7][low & 0xFF] ^ kEdc.t[6][(low >> 8) & 0xFF] ^ kEdc.t[5][(low >> 16) & 0xFF] ^
              kEdc.t[4][low >> 24] ^ kEdc.t[3][data[4]] ^ kEdc.t[2][data[5]] ^ kEdc.t[1][data[6]] ^
              kEdc.t[0][data[7]];
        data += 8;
        size -= 8;
    }
    while (size-- > 0) edc = kEdc.t[0][(edc ^ *data++) & 0xFFu] ^ (edc >> 8);
    return edc;
}

void ComputeForm1Parity(std::uint8_t* sector) {
    std::uint8_t header[4];
    std::memcpy(header, sector + 12, 4);
    std::memset(sector + 12, 0, 4);
    std::uint8_t* area = sector + kParityAreaOffset;

    // P parity: 43 columns of 24 data words; column n holds words 43 m + n.
    std::size_t index[43];
    for (std::size_t column = 0; column < 43; ++column) {
        for (std::size_t m = 0; m < 24; ++m) index[m] = 43 * m + column;
        for (std::size_t plane = 0; plane < 2; ++plane) {
            std::uint8_t p0, p1;
            RsParity(area, index, 24, plane, p0, p1);
            area[2 * (kPParityWord + column) + plane] = p0;
            area[2 * (kPParityWord + 43 + column) + plane] = p1;
        }
    }
    // Q parity: 26 diagonals of 43 words; diagonal n holds words (44 m + 43 n) mod 1118.
    for (std::size_t diagonal = 0; diagonal < 26; ++diagonal) {
        for (std::size_t m = 0; m < 43; ++m) index[m] = (44 * m + 43 * diagonal) % kQParityWord;
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

void MakeMode2Sector(RawSector& out, const std::uint8_t* userData, std::uint32_t sectorNumber,
                     std::uint8_t fileNumber, std::uint8_t channel, std::uint8_t submode,
                     std::uint8_t coding) {
    std::uint8_t* s = out.data();
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
        if (userData) std::memcpy(s + 24, userData, kForm2DataSize);
        else std::memset(s + 24, 0, kForm2DataSize);
        const std::uint32_t edc = ComputeEdc(s + 16, 2348 - 16);
        s[2348] = static_cast<std::uint8_t>(edc);
        s[2349] = static_cast<std::uint8_t>(edc >> 8);
        s[2350] = static_cast<std::uint8_t>(edc >> 16);
        s[2351] = static_cast<std::uint8_t>(edc >> 24);
    } else {
        if (userData) std::memcpy(s + 24, userData, kForm1DataSize);
        else std::memset(s + 24, 0, kForm1DataSize);
        const std::uint32_t edc = ComputeEdc(s + 16, 2072 - 16);
        s[2072] = static_cast<std::uint8_t>(edc);
        s[2073] = static_cast<std::uint8_t>(edc >> 8);
        s[2074] = static_cast<std::uint8_t>(edc >> 16);
        s[2075] = static_cast<std::uint8_t>(edc >> 24);
        ComputeForm1Parity(s);
    }
    WriteBcdAddress(s + 12, sectorNumber);
}

} // namespace lumivox
