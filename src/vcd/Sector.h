// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Mode 2 CD-ROM sectors (ECMA-130 / CD-XA): sync, header, subheader, user data, EDC and,
// for Form 1, the Reed-Solomon product code. Every sector of a Video CD image is made here.

#include <array>
#include <cstddef>
#include <cstdint>

namespace lumivox {

constexpr std::size_t kRawSectorSize = 2352; // ECMA-130 sector as recorded
constexpr std::size_t kForm1DataSize = 2048; // Mode 2 Form 1 user data
constexpr std::size_t kForm2DataSize = 2324; // Mode 2 Form 2 user data
constexpr std::uint32_t kSectorAddressOffset = 150; // image sector 0 is disc address 00:02:00

// CD-XA subheader submode bits (CD-XA / Green Book).
constexpr std::uint8_t kSubmodeEndOfRecord = 0x01;
constexpr std::uint8_t kSubmodeVideo = 0x02;
constexpr std::uint8_t kSubmodeAudio = 0x04;
constexpr std::uint8_t kSubmodeData = 0x08;
constexpr std::uint8_t kSubmodeTrigger = 0x10;
constexpr std::uint8_t kSubmodeForm2 = 0x20;
constexpr std::uint8_t kSubmodeRealTime = 0x40;
constexpr std::uint8_t kSubmodeEndOfFile = 0x80;

using RawSector = std::array<std::uint8_t, kRawSectorSize>;

// Minute, second and frame of a disc address.
struct Msf {
    std::uint8_t minute = 0;
    std::uint8_t second = 0;
    std::uint8_t frame = 0;
};

// Binary minute / second / frame of an absolute address (75 frames a second).
Msf AddressToMsf(std::uint32_t absoluteAddress);
// Binary-coded decimal of 0..99, tens digit in the high nibble.
std::uint8_t ToBcd(unsigned value);
// Writes the BCD address of image sector `sectorNumber` (that is, sectorNumber + 150) into three bytes.
void WriteBcdAddress(std::uint8_t* out, std::uint32_t sectorNumber);

// ECMA-130 14.3 error detection code: CRC-32 with polynomial
// x^32 + x^31 + x^16 + x^15 + x^4 + x^3 + x + 1, least significant bit first, register starting at 0.
std::uint32_t ComputeEdc(const std::uint8_t* data, std::size_t size, std::uint32_t edc = 0);

// Fills bytes 2076..2351 (P and Q parity, ECMA-130 Annex A) of a Form 1 sector whose bytes
// 12..2075 are final; the four header bytes are taken as zero, as CD-XA requires for Mode 2.
void ComputeForm1Parity(std::uint8_t* sector);

// Builds a complete Mode 2 sector. `userData` holds 2,048 bytes (Form 1) or 2,324 bytes
// (Form 2, chosen by submode bit 0x20); null means zeros. `sectorNumber` is relative to the
// start of the image; the header carries sectorNumber + 150.
void MakeMode2Sector(RawSector& out, const std::uint8_t* userData, std::uint32_t sectorNumber, std::uint8_t fileNumber,
                     std::uint8_t channel, std::uint8_t submode, std::uint8_t coding);

// The same for a sector whose user data is already in place at bytes 24 onwards of the
// 2,352 bytes at `sector`: fills in sync, header, subheader, EDC and (Form 1) parity.
void FinishMode2Sector(std::uint8_t* sector, std::uint32_t sectorNumber, std::uint8_t fileNumber, std::uint8_t channel,
                       std::uint8_t submode, std::uint8_t coding);

} // namespace lumivox
