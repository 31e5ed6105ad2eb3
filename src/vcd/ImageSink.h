// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Where the sectors of a Video CD image go. The image writer knows nothing of recorders or
// files: it hands the track layout (the cue list) to a sink once, then every 2,352-byte
// sector in ascending order, then closes it. One implementation feeds the recorder; the
// disc image file sink (BinCueSink) writes a BIN/CUE pair.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace lumivox {

// Kinds of cue list records (their numeric values are part of the interface).
enum class CueKind : std::uint8_t {
    TrackStart = 1,
    PregapStart = 2,
    IndexMark = 3,
    LeadOutStart = 4,
};

// One event of the track layout; `sector` is relative to the start of the image (the disc
// address is sector + 150).
struct CueRecord {
    std::uint32_t sector = 0;
    CueKind kind = CueKind::TrackStart;
    bool operator==(const CueRecord&) const = default;
};

// The image sink. All calls come from the one thread that writes the image:
// `SetCueList` first, then every sector once in ascending order, then `CloseSink`.
// A sink that is destroyed without a successful `CloseSink` discards what it was given
// (a file sink removes its partial file), which is how a failed or cancelled run ends.
class ImageSink {
public:
    virtual ~ImageSink() = default;

    // Takes the track layout. Returns 0, or −1 when the list does not end with a
    // lead-out start or the sink cannot start (ErrorText() says why).
    virtual int SetCueList(const std::vector<CueRecord>& cues) = 0;
    // Takes one complete 2,352-byte sector. Returns 0, or −1 when the sector could not be
    // stored (ErrorText() says why); the writer then stops.
    virtual int WriteSector(const std::uint8_t* sector, std::uint32_t sectorNumber) = 0;
    // Takes `count` consecutive complete sectors, 2,352 bytes each back to back, the first
    // being `firstSector`: the same as WriteSector for each in turn, stopping at the first
    // that cannot be stored, which is what this default does. A sink that stores sectors in
    // bulk takes the whole run at once.
    virtual int WriteSectors(const std::uint8_t* sectors, std::uint32_t firstSector, std::uint32_t count)
    {
        for (std::uint32_t i = 0; i < count; ++i)
            if (WriteSector(sectors + std::size_t(i) * 2352u, firstSector + i) != 0)
                return -1;
        return 0;
    }
    // Finishes the image. Returns 0, or −1 on failure (ErrorText() says why).
    virtual int CloseSink() = 0;
    // Text of the last failure, naming the file or device concerned; empty when none.
    virtual std::string ErrorText() const = 0;
};

} // namespace lumivox
