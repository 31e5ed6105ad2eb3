// SPDX-License-Identifier: GPL-2.0-or-later
#include "vcd/ControlFiles.h"

#include "vcd/Sector.h"

#include <algorithm>
#include <cstring>

namespace lumivox {
namespace {

void Put16(std::uint8_t* p, std::uint32_t value)
{
    p[0] = static_cast<std::uint8_t>(value >> 8);
    p[1] = static_cast<std::uint8_t>(value);
}
void Put32(std::uint8_t* p, std::uint32_t value)
{
    Put16(p, value >> 16);
    Put16(p + 2, value & 0xFFFFu);
}

constexpr std::uint16_t kNoList = 0xFFFF;
constexpr std::uint16_t kMultiDefault = 0xFFFE;
constexpr std::uint16_t kMultiDefaultNumbered = 0xFFFD;

std::uint32_t RoundUp(std::uint32_t value, std::uint32_t unit)
{
    return (value + unit - 1) / unit * unit;
}

// Offset / 8 of the named list's descriptor in the same file, or "no list".
std::uint16_t ListReference(const VideoCdLayout& layout, const std::string& identifier, bool extended)
{
    const int index = FindList(layout, identifier);
    if (index < 0)
        return kNoList;
    const PbcNode& target = layout.lists[static_cast<std::size_t>(index)];
    return static_cast<std::uint16_t>((extended ? target.psdExtendedOffset : target.psdOffset) / 8);
}

std::uint16_t LidField(const PbcNode& node)
{
    return static_cast<std::uint16_t>((node.lid & 0x7FFFu) | (node.rejected ? 0x8000u : 0u));
}

bool PalHeight(unsigned height)
{
    return height == 288 || height == 576;
}

} // namespace

std::uint8_t EncodeWaitTime(int seconds)
{
    if (seconds < 0)
        return 0xFF;
    if (seconds <= 60)
        return static_cast<std::uint8_t>(seconds);
    if (seconds <= 2000)
        return static_cast<std::uint8_t>((seconds - 60) / 10 + 60);
    return 0xFE;
}

std::uint32_t DescriptorSize(const PbcNode& node, bool extended)
{
    switch (node.kind) {
    case PbcKind::SelectionList: {
        const auto nos = static_cast<std::uint32_t>(node.selections.size());
        // The extended list adds four 4-byte areas (previous, next, return, default) and
        // one 4-byte area per selection.
        return extended ? 36 + 6 * nos : 20 + 2 * nos;
    }
    case PbcKind::PlayList:
        return 14 + 2 * static_cast<std::uint32_t>(node.playItems.size());
    case PbcKind::EndList:
        return 8;
    }
    return 8;
}

void AssignPsdOffsets(VideoCdLayout& layout)
{
    for (int pass = 0; pass < 2; ++pass) {
        const bool extended = pass == 1;
        std::uint32_t position = 0;
        std::uint32_t lid = 1;
        for (PbcNode& node : layout.lists) {
            node.lid = lid++;
            const std::uint32_t size = RoundUp(DescriptorSize(node, extended), 8);
            const std::uint32_t room = kPsdBlockSize - position % kPsdBlockSize;
            if (room < size)
                position = RoundUp(position, kPsdBlockSize);
            (extended ? node.psdExtendedOffset : node.psdOffset) = position;
            position += size;
        }
        (extended ? layout.placement.psdExtendedSize : layout.placement.psdSize) = position;
    }
}

std::uint8_t SegmentContentByte(const MpegStreamInfo& streams, bool firstUnit)
{
    std::uint8_t video = 0;
    for (int stream = kHighResolutionStill; stream >= kMotionVideo; --stream) {
        const MpegVideoStreamInfo& info = streams.video[stream];
        if (!info.present)
            continue;
        video = static_cast<std::uint8_t>(stream + 1 + (PalHeight(info.verticalSize) ? 4 : 0));
        break;
    }
    std::uint8_t audio = 0;
    for (const MpegAudioStreamInfo& info : streams.audio) {
        if (!info.present)
            continue;
        switch (info.mode) {
        case MpegAudioMode::SingleChannel:
            audio = 1;
            break;
        case MpegAudioMode::Stereo:
        case MpegAudioMode::JointStereo:
            audio = 2;
            break;
        case MpegAudioMode::DualChannel:
            audio = 3;
            break;
        }
        break;
    }
    return static_cast<std::uint8_t>(audio | video << 2 | (firstUnit ? 0 : 0x20));
}

bool IsPalTrack(const MpegStreamInfo& streams)
{
    for (const MpegVideoStreamInfo& info : streams.video) {
        if (!info.present)
            continue;
        const MpegNorm norm = GetNorm(info);
        if (norm == MpegNorm::PalSif || norm == MpegNorm::Pal2_3D1 || PalHeight(info.verticalSize))
            return true;
    }
    return false;
}

void WriteInfoFile(const VideoCdLayout& layout, std::uint8_t* out)
{
    std::memset(out, 0, kInfoFileSize);
    std::memcpy(out, "VIDEO_CD", 8);
    out[8] = 2; // version
    out[9] = 0; // system profile tag
    std::memset(out + 10, ' ', 16);
    std::memcpy(out + 10, layout.albumIdentifier.data(), std::min<std::size_t>(layout.albumIdentifier.size(), 16));
    Put16(out + 26, layout.volumeCount);
    Put16(out + 28, layout.volumeNumber);
    for (std::size_t track = 0; track < layout.sequences.size() && track < 13 * 8; ++track) {
        const SequenceItem& item = layout.sequences[track];
        if (item.source && IsPalTrack(item.source->StreamInfo()))
            out[30 + track / 8] |= static_cast<std::uint8_t>(1u << (track % 8));
    }
    const bool pbc = HasPlaybackControl(layout);
    out[43] = static_cast<std::uint8_t>((layout.restriction & 3u) << 1 | (pbc ? 0x80u : 0u));
    Put32(out + 44, pbc ? layout.placement.psdSize : 0);
    WriteBcdAddress(out + 48, layout.placement.segmentAreaStart);
    out[51] = pbc ? 8 : 0;
    Put16(out + 52, static_cast<std::uint32_t>(layout.lists.size()));
    Put16(out + 54, layout.segmentUnitTotal);
    std::size_t unit = 0;
    for (const SegmentItem& item : layout.segments) {
        const MpegStreamInfo streams = item.source ? item.source->StreamInfo() : MpegStreamInfo{};
        for (std::uint32_t u = 0; u < item.units && unit < kMaxSegmentUnits; ++u)
            out[56 + unit++] = SegmentContentByte(streams, u == 0);
    }
}

void WriteEntriesFile(const VideoCdLayout& layout, std::uint8_t* out)
{
    std::memset(out, 0, kEntriesFileSize);
    std::memcpy(out, "ENTRYVCD", 8);
    out[8] = 2;
    out[9] = 0;
    std::uint32_t count = 0;
    const std::uint32_t iso = layout.placement.isoAreaSize;
    auto add = [&](std::uint32_t track, std::uint32_t sector) {
        if (count >= kMaxEntries)
            return;
        std::uint8_t* p = out + 12 + 4 * count++;
        p[0] = ToBcd(track);
        WriteBcdAddress(p + 1, sector);
    };
    for (std::size_t s = 0; s < layout.sequences.size(); ++s) {
        const SequenceItem& item = layout.sequences[s];
        const std::uint32_t track = kFirstTrackItem + static_cast<std::uint32_t>(s);
        const std::uint32_t start = iso + item.relativeStart;
        add(track, start);
        for (const EntryPoint& entry : item.entries)
            add(track, start + layout.trackFrontMargin + entry.packetOffset);
    }
    Put16(out + 10, count);
}

void WriteLotFile(const VideoCdLayout& layout, bool extended, std::uint8_t* out)
{
    std::memset(out, 0xFF, kLotFileSize);
    Put16(out, 0);
    for (const PbcNode& node : layout.lists) {
        if (node.rejected || node.lid == 0 || node.lid > kMaxLists)
            continue;
        Put16(out + 2 * node.lid, (extended ? node.psdExtendedOffset : node.psdOffset) / 8);
    }
}

void WritePsdFile(const VideoCdLayout& layout, bool extended, std::uint8_t* out)
{
    const std::uint32_t size = extended ? layout.placement.psdExtendedSize : layout.placement.psdSize;
    std::memset(out, 0, size);
    for (const PbcNode& node : layout.lists) {
        std::uint8_t* d = out + (extended ? node.psdExtendedOffset : node.psdOffset);
        auto reference = [&](const std::string& identifier) { return ListReference(layout, identifier, extended); };
        switch (node.kind) {
        case PbcKind::SelectionList: {
            d[0] = extended ? kExtendedSelectionListDescriptor : kSelectionListDescriptor;
            d[1] = 0;
            d[2] = static_cast<std::uint8_t>(node.selections.size());
            d[3] = static_cast<std::uint8_t>(node.baseSelectionNumber);
            Put16(d + 4, LidField(node));
            Put16(d + 6, reference(node.previous));
            Put16(d + 8, reference(node.next));
            Put16(d + 10, reference(node.returnTarget));
            std::uint16_t defaultList = reference(node.defaultTarget);
            if (node.selectionType == 1)
                defaultList = kMultiDefault;
            if (node.selectionType == 2)
                defaultList = kMultiDefaultNumbered;
            Put16(d + 12, defaultList);
            Put16(d + 14, reference(node.timeoutTarget));
            d[16] = EncodeWaitTime(node.timeoutTime);
            d[17] = static_cast<std::uint8_t>(std::clamp(node.loopCount, 0, 127) | (node.jumpDelayed ? 0x80 : 0));
            Put16(d + 18, PlayItemNumber(layout, node.playItem));
            for (std::size_t i = 0; i < node.selections.size(); ++i)
                Put16(d + 20 + 2 * i, reference(node.selections[i]));
            // The extended areas (previous, next, return, default, one per selection) stay zero:
            // this layout gives none of them.
            break;
        }
        case PbcKind::PlayList: {
            d[0] = kPlayListDescriptor;
            d[1] = static_cast<std::uint8_t>(node.playItems.size());
            Put16(d + 2, LidField(node));
            Put16(d + 4, reference(node.previous));
            Put16(d + 6, reference(node.next));
            Put16(d + 8, reference(node.returnTarget));
            const double fifteenths = std::clamp(node.playingTime * 15.0, 0.0, 65535.0);
            Put16(d + 10, static_cast<std::uint32_t>(fifteenths));
            d[12] = EncodeWaitTime(node.waitTime);
            d[13] = EncodeWaitTime(node.autoPauseWaitTime);
            for (std::size_t i = 0; i < node.playItems.size(); ++i)
                Put16(d + 14 + 2 * i, PlayItemNumber(layout, node.playItems[i]));
            break;
        }
        case PbcKind::EndList:
            d[0] = kEndListDescriptor;
            break;
        }
    }
}

} // namespace lumivox
