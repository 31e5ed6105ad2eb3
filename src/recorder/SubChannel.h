// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// What a disc-at-once run tells the recorder about the disc beyond its sectors: the SEND CUE
// SHEET entries (session-at-once), and for raw writing the ECMA-130 scrambling of each
// sector and the P and Q sub-channel of each block, lead-in TOC included.

#include "vcd/ImageSink.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace lumivox {

// MMC SEND CUE SHEET entry (times binary, not BCD).
#pragma pack(push, 1)
struct CueSheetEntry {
    std::uint8_t controlAdr = 0; // high nibble control, low nibble ADR
    std::uint8_t track = 0; // 0 lead-in, 0xAA lead-out
    std::uint8_t index = 0;
    std::uint8_t dataForm = 0;
    std::uint8_t copyManagement = 0; // always 0
    std::uint8_t minute = 0;
    std::uint8_t second = 0;
    std::uint8_t frame = 0;
    std::int32_t Time() const { return minute * 4500 + second * 75 + frame; }
};
#pragma pack(pop)
static_assert(sizeof(CueSheetEntry) == 8);

inline constexpr std::uint8_t kCueLeadInControlAdr = 0x41; // data track, ADR 1
inline constexpr std::uint8_t kCueTrackControlAdr = 0x61; // data track, copy permitted, ADR 1
inline constexpr std::uint8_t kCueLeadOutTrack = 0xAA;
inline constexpr std::uint8_t kCueDataFormGenerated = 0x24; // lead-in / lead-out made by the drive
inline constexpr std::uint8_t kCueDataFormMode2 = 0x20; // CD-ROM XA, 2,336 bytes from the host
inline constexpr std::size_t kCueSheetMaxBytes = 2400; // 300 entries

// The cue sheet of an image: lead-in, per track (index 0 when it has a pregap — track 1
// always at 00:00:00 —, index 1, further index marks), lead-out. Times are absolute
// addresses (sector + 150). Returns 0, or −1 when the list does not end with a lead-out
// start or needs more than 300 entries (*sheet then holds what was built).
int BuildCueSheet(const std::vector<CueRecord>& cues, std::vector<std::uint8_t>* sheet);

// ECMA-130 Annex B: the scrambler sequence (x^15 + x + 1, preset 1) XORed over bytes
// 12-2351 of a sector; applying it twice restores the sector.
void ScrambleSector(std::uint8_t* sector);
const std::array<std::uint8_t, 2340>& ScramblerSequence();

// Prepares an image sector for raw writing: BCD header address of `absoluteAddress`
// (block + 150), then scrambled.
void PrepareRawSector(std::uint8_t* sector, std::uint32_t absoluteAddress);
// A scrambled Mode 2 sector of zeros whose header reads `headerAddress` (lead-in, pregap
// and lead-out blocks of raw writing).
void MakeRawZeroSector(std::uint8_t* sector, std::uint32_t headerAddress);

// CRC-16 of the Q channel (x^16 + x^12 + x^5 + 1, register 0) over its first ten bytes.
std::uint16_t QCrc(const std::uint8_t* q10);
std::uint16_t Crc16(const std::uint8_t* data, std::size_t size);

// How a block's P flag and 12 Q bytes go to the drive.
class SubchannelFormat {
public:
    virtual ~SubchannelFormat() = default;
    virtual std::size_t Size() const = 0;
    // q: the first ten Q bytes; the CRC is added here.
    virtual void Encode(const std::uint8_t* q10, bool p, std::uint8_t* out) const = 0;
    // Reads P and the 12 Q bytes back (the emulated recorder and the tests).
    virtual void Decode(const std::uint8_t* in, bool* p, std::uint8_t* q12) const = 0;
};

// MMC data block type 1: 16 bytes, Q in 0-11 with its CRC as computed, P in bit 7 of byte 15.
class PqSubcode16 final : public SubchannelFormat {
public:
    std::size_t Size() const override { return 16; }
    void Encode(const std::uint8_t* q10, bool p, std::uint8_t* out) const override;
    void Decode(const std::uint8_t* in, bool* p, std::uint8_t* q12) const override;
};

// MMC data block types 2 and 3: 96 bytes, one per symbol; bit 7 = P, bit 6 = Q (most
// significant bit of each Q byte first), the CRC complemented as ECMA-130 records it.
class PwSubcode96 final : public SubchannelFormat {
public:
    std::size_t Size() const override { return 96; }
    void Encode(const std::uint8_t* q10, bool p, std::uint8_t* out) const override;
    void Decode(const std::uint8_t* in, bool* p, std::uint8_t* q12) const override;
};

// The P and Q sub-channel of every block of a raw run, from the cue sheet.
class PQChannelEncoder {
public:
    // Checks the cue sheet (the diagnostic names the first fault) and builds the table of
    // contents. discType: 0, 16 or 32 (CD-ROM XA). leadInFirstAddress: the signed address
    // of the first lead-in block written, from which the lead-in time runs.
    bool Start(const SubchannelFormat* format, int discType, const std::uint8_t* cueSheet, std::size_t length,
               std::int32_t leadInFirstAddress, std::string* diagnostic);
    // Writes the sub-channel of the block at `address` (format->Size() bytes).
    void Encode(std::int32_t address, std::uint8_t* out) const;
    // P flag and the ten Q bytes (before CRC) of a block.
    void Compute(std::int32_t address, bool* p, std::uint8_t* q10) const;

    struct TocItem {
        std::uint8_t control = 0, point = 0, pmin = 0, psec = 0, pframe = 0; // BCD where BCD is due
    };
    const std::vector<TocItem>& Toc() const { return toc_; }

private:
    const SubchannelFormat* format_ = nullptr;
    std::vector<CueSheetEntry> entries_;
    std::vector<TocItem> toc_;
    std::int32_t leadInFirst_ = 0;
    std::int32_t leadOutAddress_ = 0;
};

// The cue list a cue sheet describes (index 0 of tracks after the first → pregap start,
// index 1 → track start, further indexes → index marks, lead-out), for disc.cue.
std::vector<CueRecord> CueListFromSheet(const std::uint8_t* sheet, std::size_t length);

} // namespace lumivox
