// SPDX-License-Identifier: GPL-2.0-or-later
#include "picture/ExifOrientation.h"

#include "base/FileDescriptor.h"

#include <unistd.h>

#include <cerrno>

#include <cstdint>
#include <cstring>
#include <vector>

namespace lumivox {

namespace {

// JPEG markers (ITU-T T.81 table B.1).
constexpr unsigned char kMarkerPrefix = 0xFF;
constexpr unsigned char kStartOfImage = 0xD8;
constexpr unsigned char kStartOfScan = 0xDA;
constexpr unsigned char kEndOfImage = 0xD9;
constexpr unsigned char kApp1 = 0xE1;
// EXIF 2.3 section 4.5.4: the APP1 payload starts "Exif\0\0", then a TIFF header.
constexpr char kExifSignature[6] = {'E', 'x', 'i', 'f', '\0', '\0'};
// TIFF 6.0: tag 274 (0x0112) Orientation, type SHORT (3), one value.
constexpr std::uint16_t kOrientationTag = 0x0112;
constexpr std::uint16_t kTypeShort = 3;
// Segments before the image data are small; a camera's EXIF block is at most 64 KB
// (the segment length field). Reading stops after this many bytes of the file.
constexpr std::size_t kMaxHeaderBytes = 512 * 1024;
// An IFD with more entries than this is not a camera's.
constexpr unsigned kMaxIfdEntries = 1000;

class TiffView {
public:
    TiffView(const unsigned char* data, std::size_t size) : data_(data), size_(size) { }

    bool ReadHeader()
    {
        if (size_ < 8)
            return false;
        if (data_[0] == 'I' && data_[1] == 'I')
            little_ = true;
        else if (data_[0] == 'M' && data_[1] == 'M')
            little_ = false;
        else
            return false;
        std::uint16_t magic = 0;
        return Read16(2, magic) && magic == 42;
    }
    bool Read16(std::size_t offset, std::uint16_t& value) const
    {
        if (offset > size_ || size_ - offset < 2)
            return false;
        const unsigned char* p = data_ + offset;
        value =
            little_ ? static_cast<std::uint16_t>(p[0] | (p[1] << 8)) : static_cast<std::uint16_t>((p[0] << 8) | p[1]);
        return true;
    }
    bool Read32(std::size_t offset, std::uint32_t& value) const
    {
        std::uint16_t a = 0;
        std::uint16_t b = 0;
        if (!Read16(offset, a) || !Read16(offset + 2, b))
            return false;
        value = little_ ? (static_cast<std::uint32_t>(b) << 16) | a : (static_cast<std::uint32_t>(a) << 16) | b;
        return true;
    }

private:
    const unsigned char* data_;
    std::size_t size_;
    bool little_ = true;
};

int OrientationFromTiff(const unsigned char* data, std::size_t size)
{
    TiffView tiff(data, size);
    std::uint32_t ifd = 0;
    std::uint16_t entries = 0;
    if (!tiff.ReadHeader() || !tiff.Read32(4, ifd) || !tiff.Read16(ifd, entries) || entries > kMaxIfdEntries)
        return kOrientationUpright;
    for (unsigned i = 0; i < entries; ++i) {
        const std::size_t entry = static_cast<std::size_t>(ifd) + 2 + 12 * static_cast<std::size_t>(i);
        std::uint16_t tag = 0;
        std::uint16_t type = 0;
        std::uint32_t count = 0;
        std::uint16_t value = 0;
        if (!tiff.Read16(entry, tag) || !tiff.Read16(entry + 2, type) || !tiff.Read32(entry + 4, count) ||
            !tiff.Read16(entry + 8, value))
            return kOrientationUpright;
        if (tag != kOrientationTag)
            continue;
        if (type != kTypeShort || count != 1 || value < 1 || value > 8)
            return kOrientationUpright;
        return value;
    }
    return kOrientationUpright;
}

} // namespace

int ReadJpegOrientation(const unsigned char* data, std::size_t size)
{
    if (size < 4 || data[0] != kMarkerPrefix || data[1] != kStartOfImage)
        return kOrientationUpright;
    std::size_t pos = 2;
    while (pos + 4 <= size) {
        if (data[pos] != kMarkerPrefix)
            return kOrientationUpright;
        const unsigned char marker = data[pos + 1];
        if (marker == kMarkerPrefix) { // fill byte
            ++pos;
            continue;
        }
        if (marker == kStartOfScan || marker == kEndOfImage)
            return kOrientationUpright;
        const std::size_t length = (static_cast<std::size_t>(data[pos + 2]) << 8) | data[pos + 3];
        if (length < 2 || length > size - pos - 2)
            return kOrientationUpright;
        const unsigned char* payload = data + pos + 4;
        const std::size_t payloadSize = length - 2;
        if (marker == kApp1 && payloadSize > sizeof kExifSignature &&
            std::memcmp(payload, kExifSignature, sizeof kExifSignature) == 0)
            return OrientationFromTiff(payload + sizeof kExifSignature, payloadSize - sizeof kExifSignature);
        pos += 2 + length;
    }
    return kOrientationUpright;
}

int ReadJpegOrientation(const std::string& path)
{
    FileDescriptor file = OpenRegularFile(path);
    if (!file)
        return kOrientationUpright;
    std::vector<unsigned char> head(kMaxHeaderBytes);
    std::size_t filled = 0;
    while (filled < head.size()) {
        const ssize_t got = ::read(file.Get(), head.data() + filled, head.size() - filled);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        filled += static_cast<std::size_t>(got);
    }
    return ReadJpegOrientation(head.data(), filled);
}

int RotationForOrientation(int orientation)
{
    switch (orientation) {
    case 3: // upside down
    case 4: // mirrored upside down
        return 180;
    case 5: // rows and columns exchanged: a quarter turn clockwise, then mirrored
    case 6: // lying on its left side
        return 90;
    case 7:
    case 8: // lying on its right side
        return 270;
    default:
        return 0;
    }
}

} // namespace lumivox
