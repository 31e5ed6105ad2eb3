// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Fixed-width number fields of on-disc records and command blocks, stored as bytes in the
// order their standard gives, so that records can be written as packed structs whose
// layout is the standard's own: ISO 9660 volume descriptors and directory records (7.2
// little-endian, 7.2.2 big-endian, 7.3 both-byte-order numbers), Video CD control files and
// SCSI command blocks (big-endian). Every type is an array of bytes: alignment 1, no
// padding, so a struct of them has exactly the size its fields add up to.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace lumivox {

template <std::size_t Bytes>
struct BigEndianField {
    std::array<std::uint8_t, Bytes> bytes{};
    void Set(std::uint64_t value)
    {
        for (std::size_t i = 0; i < Bytes; ++i)
            bytes[Bytes - 1 - i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
    std::uint64_t Get() const
    {
        std::uint64_t value = 0;
        for (std::size_t i = 0; i < Bytes; ++i)
            value = (value << 8) | bytes[i];
        return value;
    }
    // Logical block addresses of a recording run are signed (two's complement, MMC).
    void SetSigned(std::int64_t value) { Set(static_cast<std::uint64_t>(value)); }
    std::int64_t GetSigned() const
    {
        const std::uint64_t value = Get();
        const std::uint64_t sign = std::uint64_t{1} << (8 * Bytes - 1);
        return static_cast<std::int64_t>((value ^ sign) - sign);
    }
};

template <std::size_t Bytes>
struct LittleEndianField {
    std::array<std::uint8_t, Bytes> bytes{};
    void Set(std::uint64_t value)
    {
        for (std::size_t i = 0; i < Bytes; ++i)
            bytes[i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
    std::uint64_t Get() const
    {
        std::uint64_t value = 0;
        for (std::size_t i = Bytes; i-- > 0;)
            value = (value << 8) | bytes[i];
        return value;
    }
};

// ISO 9660 7.2.3 / 7.3.3: the little-endian copy first, then the big-endian one.
template <std::size_t Bytes>
struct BothEndianField {
    LittleEndianField<Bytes> little;
    BigEndianField<Bytes> big;
    void Set(std::uint64_t value)
    {
        little.Set(value);
        big.Set(value);
    }
};

using BigEndian16 = BigEndianField<2>;
using BigEndian24 = BigEndianField<3>;
using BigEndian32 = BigEndianField<4>;
using LittleEndian16 = LittleEndianField<2>;
using LittleEndian32 = LittleEndianField<4>;
using BothEndian16 = BothEndianField<2>;
using BothEndian32 = BothEndianField<4>;

// A text field filled with spaces (ISO 9660 a- and d-characters) and cut at its width.
template <std::size_t Bytes>
struct PaddedText {
    std::array<char, Bytes> bytes{};
    void Set(std::string_view text)
    {
        bytes.fill(' ');
        std::memcpy(bytes.data(), text.data(), text.size() < Bytes ? text.size() : Bytes);
    }
};

static_assert(sizeof(BigEndian32) == 4 && alignof(BigEndian32) == 1);
static_assert(sizeof(BothEndian32) == 8 && alignof(BothEndian32) == 1);
static_assert(sizeof(PaddedText<32>) == 32);

// Copies a packed record into its place in a byte buffer.
template <class Record>
void StoreRecord(std::uint8_t* into, const Record& record)
{
    std::memcpy(into, &record, sizeof record);
}

} // namespace lumivox
