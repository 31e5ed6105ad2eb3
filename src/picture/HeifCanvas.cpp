// SPDX-License-Identifier: GPL-2.0-or-later
#include "picture/HeifCanvas.h"

#include "picture/PLTextException.h"
#include "picture/PicBitmap.h"

#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace lumivox {

namespace {

// A bounded view of some bytes; every read past the end yields false, never a read outside.
class Bytes {
public:
    Bytes(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) { }

    bool Read(std::size_t n, std::uint64_t& value)
    {
        if (n > 8 || n > size_ - pos_)
            return false;
        value = 0;
        for (std::size_t i = 0; i < n; ++i)
            value = (value << 8) | data_[pos_ + i];
        pos_ += n;
        return true;
    }
    bool Skip(std::size_t n)
    {
        if (n > size_ - pos_)
            return false;
        pos_ += n;
        return true;
    }
    bool FourCc(char (&code)[5])
    {
        if (4 > size_ - pos_)
            return false;
        std::memcpy(code, data_ + pos_, 4);
        code[4] = '\0';
        pos_ += 4;
        return true;
    }
    const std::uint8_t* Here() const { return data_ + pos_; }
    std::size_t Left() const { return size_ - pos_; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

struct Box {
    char type[5] = {};
    const std::uint8_t* body = nullptr;
    std::size_t size = 0;
};

// The boxes laid one after another in data, in order; stops at the first that does not fit.
std::vector<Box> Children(const std::uint8_t* data, std::size_t size)
{
    std::vector<Box> boxes;
    std::size_t at = 0;
    while (size - at >= 8) {
        Bytes in(data + at, size - at);
        std::uint64_t length = 0;
        Box box;
        in.Read(4, length);
        in.FourCc(box.type);
        std::size_t header = 8;
        if (length == 1) {
            if (!in.Read(8, length))
                break;
            header = 16;
        } else if (length == 0) {
            length = size - at; // to the end of the enclosing box
        }
        if (length < header || length > size - at)
            break;
        box.body = data + at + header;
        box.size = static_cast<std::size_t>(length) - header;
        boxes.push_back(box);
        at += static_cast<std::size_t>(length);
    }
    return boxes;
}

struct Location {
    std::uint64_t id = 0;
    int method = 0; // 0: offsets in the file, 1: in the idat box
    std::uint64_t base = 0;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> extents; // offset, length (0: to the end)
};

bool ReadSized(Bytes& in, unsigned bytes, std::uint64_t& value)
{
    if (bytes != 0 && bytes != 4 && bytes != 8)
        return false;
    value = 0;
    return bytes == 0 || in.Read(bytes, value);
}

std::vector<Location> ReadLocations(const Box& iloc)
{
    std::vector<Location> locations;
    Bytes in(iloc.body, iloc.size);
    std::uint64_t version = 0, sizes = 0, more = 0, count = 0;
    if (!in.Read(1, version) || !in.Skip(3) || version > 2 || !in.Read(1, sizes) || !in.Read(1, more) ||
        !in.Read(version < 2 ? 2 : 4, count))
        return locations;
    const unsigned offsetSize = static_cast<unsigned>(sizes >> 4), lengthSize = sizes & 15;
    const unsigned baseSize = static_cast<unsigned>(more >> 4), indexSize = version >= 1 ? (more & 15) : 0;
    for (std::uint64_t i = 0; i < count; ++i) {
        Location location;
        std::uint64_t methodField = 0, extentCount = 0;
        if (!in.Read(version < 2 ? 2 : 4, location.id))
            break;
        if (version >= 1) {
            if (!in.Read(2, methodField))
                break;
            location.method = static_cast<int>(methodField & 15);
        }
        if (!in.Skip(2) || !ReadSized(in, baseSize, location.base) || !in.Read(2, extentCount))
            break;
        bool whole = true;
        for (std::uint64_t e = 0; e < extentCount && whole; ++e) {
            std::uint64_t index = 0, offset = 0, length = 0;
            whole = ReadSized(in, indexSize, index) && ReadSized(in, offsetSize, offset) &&
                    ReadSized(in, lengthSize, length);
            if (whole)
                location.extents.emplace_back(offset, length);
        }
        if (!whole)
            break;
        locations.push_back(std::move(location));
    }
    return locations;
}

enum class Derived { Grid, Overlay };

// The grid and overlay items that the item information declares.
std::set<std::pair<std::uint64_t, Derived>> DerivedItems(const Box& iinf)
{
    std::set<std::pair<std::uint64_t, Derived>> ids;
    Bytes in(iinf.body, iinf.size);
    std::uint64_t version = 0;
    if (!in.Read(1, version) || !in.Skip(3) || !in.Skip(version == 0 ? 2 : 4))
        return ids;
    for (const Box& infe : Children(in.Here(), in.Left())) {
        if (std::strcmp(infe.type, "infe") != 0)
            continue;
        Bytes entry(infe.body, infe.size);
        std::uint64_t entryVersion = 0, id = 0;
        char type[5];
        if (!entry.Read(1, entryVersion) || entryVersion < 2 || !entry.Skip(3) ||
            !entry.Read(entryVersion == 2 ? 2 : 4, id) || !entry.Skip(2) || !entry.FourCc(type))
            continue;
        if (std::strcmp(type, "grid") == 0)
            ids.emplace(id, Derived::Grid);
        if (std::strcmp(type, "iovl") == 0)
            ids.emplace(id, Derived::Overlay);
    }
    return ids;
}

// The first bytes of an item's data, gathered over its extents.
std::vector<std::uint8_t> ItemHead(const Location& location, const std::uint8_t* file, std::size_t fileSize,
                                   const Box* idat)
{
    const std::uint8_t* space = location.method == 0 ? file : (idat ? idat->body : nullptr);
    const std::size_t spaceSize = location.method == 0 ? fileSize : (idat ? idat->size : 0);
    std::vector<std::uint8_t> head;
    if (space == nullptr || location.method > 1)
        return head;
    for (const auto& [offset, length] : location.extents) {
        const std::uint64_t start = location.base + offset;
        if (start < location.base || start > spaceSize)
            break;
        std::uint64_t take = length == 0 ? spaceSize - start : length;
        if (take > spaceSize - start)
            take = spaceSize - start;
        if (take > 32 - head.size())
            take = 32 - head.size();
        head.insert(head.end(), space + start, space + start + take);
        if (head.size() == 32)
            break;
    }
    return head;
}

// The canvas size in a grid's or an overlay's data: after the version and flags, and the
// grid's rows and columns or the overlay's four fill values, width and height in 16 or, by
// flag 1, 32 bits.
void CheckCanvas(const std::vector<std::uint8_t>& head, Derived kind, std::uint64_t maxPixels)
{
    Bytes in(head.data(), head.size());
    std::uint64_t version = 0, flags = 0, width = 0, height = 0;
    if (!in.Read(1, version) || !in.Read(1, flags))
        return;
    if (kind == Derived::Grid) {
        // libheif decodes every tile of a grid on its own, at a cost per tile that grows
        // with their number: a grid of tens of thousands of tiny tiles in a small file
        // costs a minute and hundreds of megabytes. Cameras and phones lay a photo out in
        // at most a few hundred tiles.
        std::uint64_t rowsMinusOne = 0, columnsMinusOne = 0;
        if (!in.Read(1, rowsMinusOne) || !in.Read(1, columnsMinusOne))
            return;
        const std::uint64_t tiles = (rowsMinusOne + 1) * (columnsMinusOne + 1);
        if (tiles > kMaxHeifGridTiles)
            throw PLTextException(PL_ERRFORMAT_NOT_SUPPORTED,
                                  "HEIF: the picture is laid out in " + std::to_string(tiles) +
                                      " tiles, more than the " + std::to_string(kMaxHeifGridTiles) +
                                      " a picture may have.");
    } else if (!in.Skip(8)) {
        return;
    }
    const unsigned bytes = (flags & 1) ? 4 : 2;
    if (!in.Read(bytes, width) || !in.Read(bytes, height))
        return;
    PicBitmap::CheckSize(static_cast<long long>(width), static_cast<long long>(height), maxPixels);
}

void CheckMeta(const Box& meta, const std::uint8_t* file, std::size_t fileSize, std::uint64_t maxPixels)
{
    if (meta.size < 4)
        return;
    const std::vector<Box> children = Children(meta.body + 4, meta.size - 4);
    std::set<std::pair<std::uint64_t, Derived>> derived;
    const Box* idat = nullptr;
    for (const Box& box : children) {
        if (std::strcmp(box.type, "iinf") == 0)
            derived.merge(DerivedItems(box));
        if (std::strcmp(box.type, "idat") == 0 && idat == nullptr)
            idat = &box;
    }
    if (derived.empty())
        return;
    for (const Box& box : children) {
        if (std::strcmp(box.type, "iloc") != 0)
            continue;
        for (const Location& location : ReadLocations(box))
            for (const auto& [id, kind] : derived)
                if (id == location.id)
                    CheckCanvas(ItemHead(location, file, fileSize, idat), kind, maxPixels);
    }
}

} // namespace

void CheckHeifCanvases(const std::uint8_t* data, std::size_t size, std::uint64_t maxPixels)
{
    for (const Box& box : Children(data, size))
        if (std::strcmp(box.type, "meta") == 0)
            CheckMeta(box, data, size, maxPixels);
}

} // namespace lumivox
