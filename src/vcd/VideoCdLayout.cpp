// SPDX-License-Identifier: GPL-2.0-or-later
#include "vcd/VideoCdLayout.h"

#include "base/Parallel.h"
#include "vcd/VolumeLabel.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <system_error>
#include <thread>
#include <utility>

namespace lumivox {
namespace {

// Cuts a UTF-8 text to at most `limit` bytes without splitting a character.
std::string CutText(std::string_view text, std::size_t limit)
{
    if (text.size() <= limit)
        return std::string(text);
    std::size_t end = limit;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0u) == 0x80u)
        --end;
    return std::string(text.substr(0, end));
}

long Clamp(long value, long low, long high)
{
    return std::min(std::max(value, low), high);
}

bool InUse(const VideoCdLayout& layout, const std::string& identifier)
{
    return layout.identifiers.count(identifier) != 0;
}

// Scans a source for the layout; null when it cannot contribute packets.
std::unique_ptr<MpegSource> ScannedSource(std::unique_ptr<MpegSource> source)
{
    if (!source)
        return nullptr;
    if (ScanMpegSource(*source) != 0 || source->PacketCount() == 0)
        return nullptr;
    return source;
}

void Invalidate(VideoCdLayout& layout)
{
    layout.placement.computed = false;
}

// Scans sources ahead of adding them, on every core: a project's segment files are read
// once here in full, and reading them one after another would leave a core idle. Each
// source is scanned by one thread; a source that fails stays unscanned and is refused
// when it is added, as it would be without this.
void ScanAhead(std::vector<std::unique_ptr<MpegSource>>& sources)
{
    ParallelFor(sources.size(), 0, [&sources](std::size_t i) {
        if (sources[i])
            ScanMpegSource(*sources[i]);
    });
}

} // namespace

VideoCdLayout::VideoCdLayout() = default;
VideoCdLayout::~VideoCdLayout() = default;

std::unique_ptr<VideoCdLayout> CreateLayout(DiscType type)
{
    auto layout = std::make_unique<VideoCdLayout>();
    layout->discType = type;
    return layout;
}

int SetLayoutText(VideoCdLayout& layout, LayoutText parameter, std::string_view text)
{
    switch (parameter) {
    // The label reaches both identifiers as typed; what ISO 9660 allows in them is
    // made of it here, whoever calls.
    case LayoutText::VolumeIdentifier:
        layout.volumeIdentifier = VolumeIdentifierCharacters(text, kVolumeLabelLength);
        break;
    case LayoutText::PublisherIdentifier:
        layout.publisherIdentifier = CutText(text, 128);
        break;
    case LayoutText::ApplicationIdentifier:
        layout.applicationIdentifier = CutText(text, 128);
        break;
    case LayoutText::AlbumIdentifier:
        layout.albumIdentifier = VolumeIdentifierCharacters(text, 16);
        break;
    default:
        return -1;
    }
    Invalidate(layout);
    return 0;
}

int SetLayoutNumber(VideoCdLayout& layout, LayoutNumber parameter, long value)
{
    switch (parameter) {
    case LayoutNumber::VolumeCount:
        layout.volumeCount = static_cast<std::uint16_t>(Clamp(value, 1, 65535));
        break;
    case LayoutNumber::VolumeNumber:
        layout.volumeNumber = static_cast<std::uint16_t>(Clamp(value, 0, 65534));
        break;
    case LayoutNumber::Restriction:
        layout.restriction = static_cast<std::uint8_t>(Clamp(value, 0, 3));
        break;
    case LayoutNumber::LeadOutPregap:
        layout.leadOutPregap = static_cast<std::uint32_t>(Clamp(value, 0, 300));
        break;
    case LayoutNumber::TrackPregap:
        layout.trackPregap = static_cast<std::uint32_t>(Clamp(value, 1, 300));
        break;
    case LayoutNumber::TrackFrontMargin:
        layout.trackFrontMargin = static_cast<std::uint32_t>(Clamp(value, 0, 150));
        break;
    case LayoutNumber::TrackRearMargin:
        layout.trackRearMargin = static_cast<std::uint32_t>(Clamp(value, 0, 150));
        break;
    default:
        return -1;
    }
    Invalidate(layout);
    return 0;
}

int AddPbcNode(VideoCdLayout& layout, PbcNode node)
{
    if (node.identifier.empty() || InUse(layout, node.identifier))
        return -1;
    const auto index = static_cast<std::uint32_t>(layout.lists.size());
    layout.identifiers.emplace(node.identifier, std::make_pair(IdentifierKind::List, index));
    node.lid = 0;
    node.psdOffset = node.psdExtendedOffset = 0;
    layout.lists.push_back(std::move(node));
    Invalidate(layout);
    return 0;
}

namespace {

int AppendSegment(VideoCdLayout& layout, std::unique_ptr<MpegSource> source, const std::string& identifier,
                  std::uint32_t packetCount)
{
    SegmentItem item;
    item.packetCount = packetCount;
    item.units = (item.packetCount + kSectorsPerSegmentUnit - 1) / kSectorsPerSegmentUnit;
    item.unitsBefore = layout.segmentUnitTotal;
    item.identifier = identifier;
    item.source = std::move(source);
    layout.identifiers.emplace(
        identifier, std::make_pair(IdentifierKind::Segment, static_cast<std::uint32_t>(layout.segments.size())));
    layout.segmentUnitTotal += item.units;
    layout.segments.push_back(std::move(item));
    Invalidate(layout);
    return 0;
}

} // namespace

int AddSegmentItem(VideoCdLayout& layout, std::unique_ptr<MpegSource> source, const std::string& identifier)
{
    if (identifier.empty() || InUse(layout, identifier))
        return -1;
    source = ScannedSource(std::move(source));
    if (!source)
        return -1;
    // The file is opened again when the item's sectors are written; holding thousands
    // of segment files open in between is not needed.
    CloseMpegSource(*source);
    const std::uint32_t packets = source->PacketCount();
    return AppendSegment(layout, std::move(source), identifier, packets);
}

int AddSizedSegmentItem(VideoCdLayout& layout, const std::string& identifier, std::uint32_t packetCount)
{
    if (identifier.empty() || InUse(layout, identifier) || packetCount == 0)
        return -1;
    return AppendSegment(layout, nullptr, identifier, packetCount);
}

int AddSegmentItem(VideoCdLayout& layout, const std::string& path, const std::string& identifier)
{
    if (identifier.empty() || InUse(layout, identifier))
        return -1;
    return AddSegmentItem(layout, CreateMpegSource(path), identifier);
}

int AddSegmentPause(VideoCdLayout& layout, const std::string& segmentIdentifier, double time,
                    const std::string& pauseIdentifier)
{
    SegmentItem* item = nullptr;
    if (segmentIdentifier.empty()) {
        if (!layout.segments.empty())
            item = &layout.segments.back();
    } else {
        const auto found = layout.identifiers.find(segmentIdentifier);
        if (found != layout.identifiers.end() && found->second.first == IdentifierKind::Segment)
            item = &layout.segments[found->second.second];
    }
    if (!item)
        return -1;
    PausePoint pause{time, pauseIdentifier};
    const auto at = std::upper_bound(item->pausePoints.begin(), item->pausePoints.end(), time,
                                     [](double t, const PausePoint& p) { return t < p.time; });
    item->pausePoints.insert(at, std::move(pause));
    return 0;
}

namespace {

int AppendSequence(VideoCdLayout& layout, std::unique_ptr<MpegSource> source, const std::string& sequenceIdentifier,
                   const std::string& entryIdentifier, std::uint32_t packetCount)
{
    SequenceItem item;
    item.packetCount = packetCount;
    item.source = std::move(source);
    item.identifier = sequenceIdentifier;
    item.defaultEntryIdentifier = entryIdentifier;
    item.relativeStart = layout.sequenceRunningTotal + layout.trackPregap;
    layout.sequenceRunningTotal =
        item.relativeStart + layout.trackFrontMargin + item.packetCount + layout.trackRearMargin;
    const auto index = static_cast<std::uint32_t>(layout.sequences.size());
    layout.identifiers.emplace(sequenceIdentifier, std::make_pair(IdentifierKind::Sequence, index));
    layout.identifiers.emplace(entryIdentifier, std::make_pair(IdentifierKind::Entry, index));
    layout.sequences.push_back(std::move(item));
    Invalidate(layout);
    return 0;
}

} // namespace

int AddSequenceItem(VideoCdLayout& layout, std::unique_ptr<MpegSource> source, const std::string& sequenceIdentifier,
                    const std::string& entryIdentifier)
{
    if (sequenceIdentifier.empty() || entryIdentifier.empty() || sequenceIdentifier == entryIdentifier ||
        InUse(layout, sequenceIdentifier) || InUse(layout, entryIdentifier))
        return -1;
    source = ScannedSource(std::move(source));
    if (!source)
        return -1;
    const std::uint32_t packets = source->PacketCount();
    CloseMpegSource(*source);
    return AppendSequence(layout, std::move(source), sequenceIdentifier, entryIdentifier, packets);
}

int AddSizedSequenceItem(VideoCdLayout& layout, const std::string& sequenceIdentifier,
                         const std::string& entryIdentifier, std::uint32_t packetCount)
{
    if (sequenceIdentifier.empty() || entryIdentifier.empty() || sequenceIdentifier == entryIdentifier ||
        InUse(layout, sequenceIdentifier) || InUse(layout, entryIdentifier) || packetCount == 0)
        return -1;
    return AppendSequence(layout, nullptr, sequenceIdentifier, entryIdentifier, packetCount);
}

int AddSequenceItem(VideoCdLayout& layout, const std::string& path, const std::string& sequenceIdentifier,
                    const std::string& entryIdentifier)
{
    if (sequenceIdentifier.empty() || entryIdentifier.empty() || sequenceIdentifier == entryIdentifier ||
        InUse(layout, sequenceIdentifier) || InUse(layout, entryIdentifier))
        return -1;
    return AddSequenceItem(layout, CreateMpegSource(path), sequenceIdentifier, entryIdentifier);
}

int AddSequenceEntry(VideoCdLayout& layout, const std::string& sequenceIdentifier, const std::string& entryIdentifier,
                     std::uint32_t packetOffset)
{
    const auto found = layout.identifiers.find(sequenceIdentifier);
    if (found == layout.identifiers.end() || found->second.first != IdentifierKind::Sequence)
        return -1;
    if (entryIdentifier.empty() || InUse(layout, entryIdentifier))
        return -1;
    SequenceItem& item = layout.sequences[found->second.second];
    if (packetOffset >= item.packetCount)
        return -1;
    // Entry points follow the track in disc order: ENTRIES.VCD and the index marks of the
    // track list must ascend, so an entry at or before the previous one is refused.
    if (!item.entries.empty() && packetOffset <= item.entries.back().packetOffset)
        return -1;
    item.entries.push_back(EntryPoint{entryIdentifier, packetOffset});
    layout.identifiers.emplace(entryIdentifier, std::make_pair(IdentifierKind::Entry, found->second.second));
    Invalidate(layout);
    return 0;
}

IdentifierInfo LookupIdentifier(const VideoCdLayout& layout, const std::string& identifier)
{
    IdentifierInfo info;
    const auto found = layout.identifiers.find(identifier);
    if (identifier.empty() || found == layout.identifiers.end())
        return info;
    info.kind = found->second.first;
    const std::uint32_t index = found->second.second;
    switch (info.kind) {
    case IdentifierKind::Segment:
        info.index = index;
        info.playItemNumber = kFirstSegmentItem + layout.segments[index].unitsBefore;
        break;
    case IdentifierKind::Sequence:
        info.index = index;
        info.playItemNumber = kFirstTrackItem + index;
        break;
    case IdentifierKind::Entry: {
        // Entries are counted over all sequences: each one's default entry, then its further ones.
        std::uint32_t running = 0;
        for (std::uint32_t s = 0; s < index; ++s)
            running += 1 + static_cast<std::uint32_t>(layout.sequences[s].entries.size());
        const SequenceItem& sequence = layout.sequences[index];
        if (sequence.defaultEntryIdentifier != identifier) {
            for (std::size_t e = 0; e < sequence.entries.size(); ++e) {
                if (sequence.entries[e].identifier == identifier) {
                    running += 1 + static_cast<std::uint32_t>(e);
                    break;
                }
            }
        }
        info.index = running;
        info.playItemNumber = kFirstEntryItem + running;
        break;
    }
    case IdentifierKind::List:
        info.index = index;
        break;
    case IdentifierKind::None:
        break;
    }
    return info;
}

std::uint32_t PlayItemNumber(const VideoCdLayout& layout, const std::string& identifier)
{
    return LookupIdentifier(layout, identifier).playItemNumber;
}

int FindList(const VideoCdLayout& layout, const std::string& identifier)
{
    const auto found = layout.identifiers.find(identifier);
    if (identifier.empty() || found == layout.identifiers.end() || found->second.first != IdentifierKind::List)
        return -1;
    return static_cast<int>(found->second.second);
}

bool HasPlaybackControl(const VideoCdLayout& layout)
{
    return !layout.lists.empty();
}

std::uint32_t EntryCount(const VideoCdLayout& layout)
{
    std::uint32_t count = 0;
    for (const SequenceItem& sequence : layout.sequences)
        count += 1 + static_cast<std::uint32_t>(sequence.entries.size());
    return count;
}

void FinishLayout(VideoCdLayout& layout)
{
    for (SegmentItem& item : layout.segments)
        if (item.source)
            CloseMpegSource(*item.source);
    for (SequenceItem& item : layout.sequences)
        if (item.source)
            CloseMpegSource(*item.source);
}

void DestroyLayout(std::unique_ptr<VideoCdLayout>& layout)
{
    if (layout)
        FinishLayout(*layout);
    layout.reset();
}

std::string SelectionIdentifier(int number)
{
    char text[32];
    std::snprintf(text, sizeof text, "Selection-0%02d", number);
    return text;
}

std::string SegmentIdentifier(int number)
{
    char text[32];
    std::snprintf(text, sizeof text, "segment-00%02d", number);
    return text;
}

std::unique_ptr<VideoCdLayout> BuildProjectLayout(const LayoutProject& project)
{
    auto layout = CreateLayout(DiscType::VideoCd20);
    SetLayoutText(*layout, LayoutText::AlbumIdentifier, project.cdLabel);
    SetLayoutNumber(*layout, LayoutNumber::VolumeNumber, 1);
    SetLayoutNumber(*layout, LayoutNumber::VolumeCount, 1);
    SetLayoutNumber(*layout, LayoutNumber::Restriction, 0);
    SetLayoutText(*layout, LayoutText::VolumeIdentifier, project.cdLabel);
    SetLayoutText(*layout, LayoutText::PublisherIdentifier, "LV_VCD 1.0");

    const int albumCount = static_cast<int>(project.albumPictureCounts.size());
    // A template always lists at least one album per page; a zero here would leave the
    // albums unreachable, so it is taken as one.
    const int perPage = std::max(project.albumsPerPage, 1);
    const int pageCount = albumCount / perPage + (albumCount % perPage ? 1 : 0);

    // Menu pages.
    int firstSlide = pageCount + 1;
    for (int page = 0; page < pageCount; ++page) {
        PbcNode node;
        node.identifier = SelectionIdentifier(page + 1);
        node.playItem = SegmentIdentifier(page);
        if (page > 0)
            node.previous = SelectionIdentifier(page);
        if (page < pageCount - 1)
            node.next = SelectionIdentifier(page + 2);
        node.defaultTarget = node.identifier;
        node.timeoutTarget = node.identifier;
        node.timeoutTime = -1;
        node.selectionType = 0;
        node.baseSelectionNumber = 1;
        node.loopCount = 1;
        node.jumpDelayed = false;
        for (int album = page * perPage; album < (page + 1) * perPage && album < albumCount; ++album) {
            node.selections.push_back(SelectionIdentifier(firstSlide));
            firstSlide += std::max(project.albumPictureCounts[album], 0);
        }
        AddPbcNode(*layout, std::move(node));
    }

    // Slides.
    int slide = 0;
    for (int album = 0; album < albumCount; ++album) {
        const int pictures = std::max(project.albumPictureCounts[album], 0);
        for (int picture = 0; picture < pictures; ++picture, ++slide) {
            const int m = pageCount + slide;
            PbcNode node;
            node.identifier = SelectionIdentifier(m + 1);
            node.playItem = SegmentIdentifier(m);
            if (picture > 0)
                node.previous = SelectionIdentifier(m);
            if (picture == pictures - 1) {
                node.next = SelectionIdentifier(1);
            } else {
                node.next = SelectionIdentifier(m + 2);
                node.timeoutTarget = node.next;
            }
            node.returnTarget = SelectionIdentifier(1);
            node.timeoutTime = 10;
            node.jumpDelayed = true;
            node.baseSelectionNumber = 1;
            node.loopCount = 1;
            AddPbcNode(*layout, std::move(node));
        }
    }

    // Menu segments, then slide segments, scanned together first.
    std::vector<std::pair<std::string, std::string>> segments; // file name, identifier
    char path[64];
    for (int page = 0; page < pageCount; ++page) {
        std::snprintf(path, sizeof path, "menu_%02d.mpg", page + 1);
        segments.emplace_back(path, SegmentIdentifier(page));
    }
    slide = 0;
    for (int album = 0; album < albumCount; ++album) {
        const int pictures = std::max(project.albumPictureCounts[album], 0);
        for (int q = 1; q <= pictures; ++q, ++slide) {
            // The folder goes in as text, never as part of a format, so a "%" in its name is harmless.
            std::snprintf(path, sizeof path, "menu_%02d_pic_%02d.mpg", album + 1, q);
            segments.emplace_back(path, SegmentIdentifier(pageCount + slide));
        }
    }
    if (!project.segmentPackets.empty()) {
        for (std::size_t i = 0; i < segments.size(); ++i) {
            const std::string& identifier = segments[i].second;
            const std::uint32_t packets = i < project.segmentPackets.size() ? project.segmentPackets[i] : 0;
            if (AddSizedSegmentItem(*layout, identifier, packets) == 0)
                AddSegmentPause(*layout, identifier, 5.0);
        }
    } else {
        std::vector<std::unique_ptr<MpegSource>> sources;
        sources.reserve(segments.size());
        for (const auto& segment : segments)
            sources.push_back(CreateMpegSource(project.workFolder + segment.first));
        ScanAhead(sources);
        for (std::size_t i = 0; i < segments.size(); ++i) {
            const std::string& identifier = segments[i].second;
            if (AddSegmentItem(*layout, std::move(sources[i]), identifier) == 0)
                AddSegmentPause(*layout, identifier, 5.0);
        }
    }

    // The disc's single MPEG track: the fixed card, or the slideshow with one entry per album.
    const char* sequence = "Sequence-0001-01";
    if (!project.segmentPackets.empty() && project.trackPackets > 0)
        AddSizedSequenceItem(*layout, sequence, "Chapter-0001-01", project.trackPackets);
    else if (!project.trackPath.empty())
        AddSequenceItem(*layout, project.trackPath, sequence, "Chapter-0001-01");
    else
        AddSequenceItem(*layout,
                        project.programFolder + (project.norm == TvNorm::Pal ? "avseq01.npal" : "avseq01.ntsc"),
                        sequence, "Chapter-0001-01");
    if (!project.trackPath.empty() || project.trackPackets > 0) {
        int chapter = 2;
        for (const std::uint32_t offset : project.trackEntryPackets) {
            std::snprintf(path, sizeof path, "Chapter-0001-%02d", chapter++);
            AddSequenceEntry(*layout, sequence, path, offset);
        }
    }
    return layout;
}

} // namespace lumivox
