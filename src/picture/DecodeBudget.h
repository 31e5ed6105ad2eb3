// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The memory the picture decodes of the whole process hold at once. Every decode runs in
// a DecodeMemoryScope (PicReader opens one), and every large bitmap made inside it is
// reserved against one process-wide budget first. A decode whose first large bitmap does
// not fit next to what the others hold waits until they are done (or its run is
// cancelled), so several workers meeting huge pictures at the same time take turns
// instead of each holding a picture's full size at once. A picture larger than the
// whole budget still decodes, alone.
//
// The reservation of a decode lasts until its scope ends, when the decoded picture is
// handed to the caller (who shrinks it to the frame and lets it go). A decode that
// already holds a reservation never waits for more: a waiting decode holds nothing, so
// decodes can never wait on each other in a circle.

#include <cstddef>

namespace lumivox {

class DecodeMemoryScope {
public:
    DecodeMemoryScope();
    // Gives back what the decode reserved (the outermost scope of the thread does).
    ~DecodeMemoryScope();
    DecodeMemoryScope(const DecodeMemoryScope&) = delete;
    DecodeMemoryScope& operator=(const DecodeMemoryScope&) = delete;

private:
    DecodeMemoryScope* outer_;
    std::size_t held_ = 0;
    friend void ReserveDecodeMemory(std::size_t bytes);
};

// Called before a bitmap of bytes is allocated. Outside a decode, and below the size of
// an ordinary photo, it returns at once. Throws PLTextException (kDecodeCancelled) when
// the decode's run is cancelled while it waits.
void ReserveDecodeMemory(std::size_t bytes);

// The budget (by default a quarter of the machine's memory, 512 MB to 2 GB) and the size
// from which a bitmap counts (64 MB, a 16-megapixel photo). Tests set smaller ones.
void SetDecodeMemoryLimits(std::size_t budget, std::size_t countedFrom);
// What decodes hold now, and how many wait (tests).
std::size_t DecodeMemoryInUse();
int DecodeMemoryWaiters();

} // namespace lumivox
