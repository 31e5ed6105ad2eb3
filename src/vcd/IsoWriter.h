// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The ISO 9660 file system with CD-XA extensions of a Video CD 2.0 and the writing of the
// whole image, sector by sector: placement of every file and item on sectors, the
// directories and path tables, the volume descriptors, and the subheaders of the
// segment items and MPEG tracks.

#include "vcd/Sector.h"
#include "vcd/VideoCdLayout.h"

#include <cstdint>

namespace lumivox {

// CD-XA attributes (big-endian in the system use field).
inline constexpr std::uint16_t kXaDirectory = 0x8D55;
inline constexpr std::uint16_t kXaForm1File = 0x0D55;
inline constexpr std::uint16_t kXaForm2File = 0x1555;

// Every date of the file system: 1978-07-14 00:00:00 UTC.
inline constexpr long long kFileSystemInstant = 269222400;

// The directories and path tables are kept in sectors 18 … 74 when they fit there.
inline constexpr std::uint32_t kDirectoryAreaStart = 18;
inline constexpr std::uint32_t kDirectoryAreaEnd = 75;
inline constexpr std::uint32_t kMinimumIsoAreaSize = 300;

// Builds the sector map and the directory tree; returns the ISO area size. Expects
// AssignPsdOffsets to have run.
std::uint32_t PlaceImage(VideoCdLayout& layout);

// Size in bytes of a directory's records, rounded up to whole sectors.
std::uint32_t DirectorySize(const DirectoryNode& directory);

// Fill the in-memory system blocks (directories, path tables, volume descriptors, control files).
void FillSystemBlocks(VideoCdLayout& layout);

// Writes the ISO area / one MPEG track through the sink. Return 0, or 1 after an early stop
// (errorText says why).
int WriteIsoTrack(VideoCdLayout& layout, ImageSink& sink, const WriteProgressCallback& progress);
int WriteMpegTrack(VideoCdLayout& layout, std::size_t trackIndex, ImageSink& sink,
                   const WriteProgressCallback& progress);

} // namespace lumivox
