// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The Video CD 2.0 control files: INFO.VCD (disc information), ENTRIES.VCD (entry table),
// LOT.VCD / LOT_X.VCD (list offset tables) and PSD.VCD / PSD_X.VCD (play sequence
// descriptors). All numbers are big-endian; disc addresses are BCD minute/second/frame.

#include "vcd/VideoCdLayout.h"

#include <cstdint>
#include <vector>

namespace lumivox {

inline constexpr std::size_t kInfoFileSize = 2048;
inline constexpr std::size_t kEntriesFileSize = 2048;
inline constexpr std::size_t kLotFileSize = 65536;
inline constexpr std::size_t kPsdBlockSize = 2048; // descriptors never cross this boundary

// Descriptor type bytes.
inline constexpr std::uint8_t kPlayListDescriptor = 0x10;
inline constexpr std::uint8_t kSelectionListDescriptor = 0x18;
inline constexpr std::uint8_t kExtendedSelectionListDescriptor = 0x1A;
inline constexpr std::uint8_t kEndListDescriptor = 0x1F;

// One-byte encoding of a wait or timeout time in whole seconds.
std::uint8_t EncodeWaitTime(int seconds);

// Unrounded descriptor size of a list in PSD.VCD (extended = false) or PSD_X.VCD.
std::uint32_t DescriptorSize(const PbcNode& node, bool extended);

// Gives every list its LID (1-based position) and its offsets in PSD.VCD and PSD_X.VCD,
// and stores both file sizes in the layout's placement.
void AssignPsdOffsets(VideoCdLayout& layout);

// Content byte of one segment unit (first unit of its item or a later one).
std::uint8_t SegmentContentByte(const MpegStreamInfo& streams, bool firstUnit);
// True when MPEG track `index` is recorded in the PAL norm.
bool IsPalTrack(const MpegStreamInfo& streams);

// Fill the files' bytes. INFO and ENTRIES need the placement (segment area start, ISO area
// size); the PSD buffer must hold the file's size in bytes (AssignPsdOffsets).
void WriteInfoFile(const VideoCdLayout& layout, std::uint8_t* out); // 2,048 bytes
void WriteEntriesFile(const VideoCdLayout& layout, std::uint8_t* out); // 2,048 bytes
void WriteLotFile(const VideoCdLayout& layout, bool extended, std::uint8_t* out); // 65,536 bytes
void WritePsdFile(const VideoCdLayout& layout, bool extended, std::uint8_t* out);

} // namespace lumivox
