// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// MappedFileSource: the decoders' read cursor over a file's memory view. Reads hand out
// a pointer to the next n bytes and advance; nothing is copied. Asking for bytes past
// the end raises code 11, so a decoder never reads outside the view.

#include "picture/PLTextException.h"

#include <cstddef>
#include <cstdint>

namespace lumivox {

class MappedFileSource {
public:
    MappedFileSource(const unsigned char* data, std::size_t size) : data_(data), size_(size) { }

    const std::uint8_t* ReadNBytes(std::size_t n)
    {
        if (n > size_ - pos_)
            ThrowEndOfFile();
        const std::uint8_t* p = data_ + pos_;
        pos_ += n;
        return p;
    }
    std::uint8_t ReadByte() { return *ReadNBytes(1); }
    std::uint16_t ReadLE16()
    {
        const std::uint8_t* p = ReadNBytes(2);
        return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
    }
    std::uint32_t ReadLE32()
    {
        const std::uint8_t* p = ReadNBytes(4);
        return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
               (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
    }
    void Skip(std::size_t n) { ReadNBytes(n); }
    void Seek(std::size_t position)
    {
        if (position > size_)
            ThrowEndOfFile();
        pos_ = position;
    }

    std::size_t Position() const { return pos_; }
    std::size_t Size() const { return size_; }
    std::size_t Remaining() const { return size_ - pos_; }
    const std::uint8_t* Data() const { return data_; }

    [[noreturn]] static void ThrowEndOfFile()
    {
        throw PLTextException(PL_ERREND_OF_FILE, "End of file reached while decoding.\n");
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

} // namespace lumivox
