// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The ISO 9660 records the image writer lays down, as packed structs in the standard's
// own field order (ISO 9660:1988 clause numbers beside each), plus the CD-XA system-use
// field of every directory record (CD-ROM XA, "XA" signature).

#include "base/ByteFields.h"

#include <cstdint>

namespace lumivox::iso9660 {

// 9.1: the fixed part of a directory record; the identifier follows, then a padding byte
// when the identifier's length is even, then the system-use field.
struct DirectoryRecordHead {
    std::uint8_t length = 0; // 9.1.1
    std::uint8_t extendedAttributeLength = 0; // 9.1.2
    BothEndian32 extent; // 9.1.3
    BothEndian32 dataLength; // 9.1.4
    std::uint8_t recorded[7] = {}; // 9.1.5: years since 1900, month, day, hour, minute, second, zone
    std::uint8_t flags = 0; // 9.1.6: 2 = directory
    std::uint8_t unitSize = 0; // 9.1.7
    std::uint8_t gapSize = 0; // 9.1.8
    BothEndian16 volumeSequenceNumber; // 9.1.9
    std::uint8_t identifierLength = 0; // 9.1.10
};
static_assert(sizeof(DirectoryRecordHead) == 33);

// CD-XA system-use field of a directory record: owner group and user, attributes, "XA",
// file number, five reserved bytes.
struct XaSystemUse {
    BigEndian16 groupId;
    BigEndian16 userId;
    BigEndian16 attributes;
    char signature[2] = {'X', 'A'};
    std::uint8_t fileNumber = 0;
    std::uint8_t reserved[5] = {};
};
static_assert(sizeof(XaSystemUse) == 14);

// 9.4: the fixed part of a path table record; the identifier follows, padded to even.
template <class Number16, class Number32>
struct PathTableRecordHead {
    std::uint8_t identifierLength = 0; // 9.4.1
    std::uint8_t extendedAttributeLength = 0; // 9.4.2
    Number32 extent; // 9.4.3
    Number16 parentNumber; // 9.4.4
};
using LittlePathTableRecordHead = PathTableRecordHead<LittleEndian16, LittleEndian32>;
using BigPathTableRecordHead = PathTableRecordHead<BigEndian16, BigEndian32>;
static_assert(sizeof(LittlePathTableRecordHead) == 8 && sizeof(BigPathTableRecordHead) == 8);

// 8.4.26.1: a date and time of a volume descriptor: 16 digits and the zone offset.
struct DigitsDateTime {
    char digits[16] = {};
    std::uint8_t zone = 0;
};
static_assert(sizeof(DigitsDateTime) == 17);

// 8.4 (8.3 for the terminator, which uses only the first seven bytes): one whole sector.
struct PrimaryVolumeDescriptor {
    std::uint8_t type = 1; // 8.4.1
    char standardIdentifier[5] = {'C', 'D', '0', '0', '1'}; // 8.4.2
    std::uint8_t version = 1; // 8.4.3
    std::uint8_t unused1 = 0; // 8.4.4
    PaddedText<32> systemIdentifier; // 8.4.5
    PaddedText<32> volumeIdentifier; // 8.4.6
    std::uint8_t unused2[8] = {}; // 8.4.7
    BothEndian32 volumeSpaceSize; // 8.4.8
    std::uint8_t unused3[32] = {}; // 8.4.9
    BothEndian16 volumeSetSize; // 8.4.10
    BothEndian16 volumeSequenceNumber; // 8.4.11
    BothEndian16 logicalBlockSize; // 8.4.12
    BothEndian32 pathTableSize; // 8.4.13
    LittleEndian32 littlePathTable; // 8.4.14
    LittleEndian32 optionalLittlePathTable; // 8.4.15
    BigEndian32 bigPathTable; // 8.4.16
    BigEndian32 optionalBigPathTable; // 8.4.17
    std::uint8_t rootDirectoryRecord[34] = {}; // 8.4.18
    PaddedText<128> volumeSetIdentifier; // 8.4.19
    PaddedText<128> publisherIdentifier; // 8.4.20
    PaddedText<128> preparerIdentifier; // 8.4.21
    PaddedText<128> applicationIdentifier; // 8.4.22
    PaddedText<37> copyrightFileIdentifier; // 8.4.23
    PaddedText<37> abstractFileIdentifier; // 8.4.24
    PaddedText<37> bibliographicFileIdentifier; // 8.4.25
    DigitsDateTime creation; // 8.4.26
    DigitsDateTime modification; // 8.4.27
    DigitsDateTime expiration; // 8.4.28
    DigitsDateTime effective; // 8.4.29
    std::uint8_t fileStructureVersion = 1; // 8.4.30
    std::uint8_t reserved1 = 0; // 8.4.31
    std::uint8_t applicationUse[512] = {}; // 8.4.32: CD-XA puts "CD-XA001" at byte 1024 of the sector (141 here)
    std::uint8_t reserved2[653] = {}; // 8.4.33
};
static_assert(sizeof(PrimaryVolumeDescriptor) == 2048);
// The CD-XA label's place in the application-use field (sector byte 1024).
inline constexpr std::size_t kXaLabelOffsetInApplicationUse = 1024 - 883;

// 8.3: the volume descriptor set terminator (type 255), zero after its seven bytes.
struct VolumeDescriptorSetTerminator {
    std::uint8_t type = 255;
    char standardIdentifier[5] = {'C', 'D', '0', '0', '1'};
    std::uint8_t version = 1;
    std::uint8_t reserved[2041] = {};
};
static_assert(sizeof(VolumeDescriptorSetTerminator) == 2048);

} // namespace lumivox::iso9660
