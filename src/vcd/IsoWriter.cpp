// SPDX-License-Identifier: GPL-2.0-or-later
#include "vcd/IsoWriter.h"

#include "base/TextUtil.h"
#include "vcd/ControlFiles.h"
#include "vcd/Iso9660Records.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>

namespace lumivox {
namespace {

constexpr std::uint32_t kSectorData = 2048;
constexpr std::uint8_t kDescriptorEndFlag = 0x81; // end of record and end of file
constexpr std::uint8_t kControlFileEndFlag = 0x80; // end of file
constexpr std::uint32_t kLotSectors = kLotFileSize / kSectorData;
constexpr std::uint32_t kSystemAreaSectors = 16;
constexpr std::uint32_t kPvdSector = 16;
constexpr std::uint32_t kTerminatorSector = 17;
constexpr std::uint32_t kInfoSector = 150;
constexpr std::uint32_t kEntriesSector = 151;
constexpr std::uint32_t kLotSector = 152;
constexpr std::uint32_t kPsdSector = 184;
constexpr std::uint32_t kReservedAreaStart = 75; // sectors 75 … 149 stay empty
constexpr std::uint32_t kReservedAreaEnd = 150;

constexpr std::uint32_t kDotRecordSize = 48; // 34 bytes of record + 14 bytes of CD-XA field
constexpr std::uint32_t kXaFieldSize = 14;

std::uint32_t SectorsFor(std::uint32_t bytes)
{
    return (bytes + kSectorData - 1) / kSectorData;
}

std::tm FixedInstant()
{
    const std::time_t t = static_cast<std::time_t>(kFileSystemInstant);
    std::tm tm{};
    gmtime_r(&t, &tm);
    return tm;
}

// Size of a child's directory record (ISO 9660 9.1) with its CD-XA field.
std::uint32_t RecordSize(std::size_t identifierLength)
{
    return static_cast<std::uint32_t>(33 + identifierLength + (identifierLength % 2 == 0 ? 1 : 0) + kXaFieldSize);
}

std::string RecordIdentifier(const DirectoryNode& node)
{
    return node.isDirectory ? node.name : node.name + ";1";
}

// The recording time of every directory record (ISO 9660 9.1.5).
void SetRecordingTime(std::uint8_t (&recorded)[7])
{
    const std::tm tm = FixedInstant();
    recorded[0] = static_cast<std::uint8_t>(tm.tm_year);
    recorded[1] = static_cast<std::uint8_t>(tm.tm_mon + 1);
    recorded[2] = static_cast<std::uint8_t>(tm.tm_mday);
    recorded[3] = static_cast<std::uint8_t>(tm.tm_hour);
    recorded[4] = static_cast<std::uint8_t>(tm.tm_min);
    recorded[5] = static_cast<std::uint8_t>(tm.tm_sec);
    recorded[6] = 0; // zone offset
}

// Writes one directory record with its CD-XA system use field; returns its length.
std::uint32_t WriteRecord(std::uint8_t* p, const DirectoryNode& node, const std::uint8_t* identifier,
                          std::size_t identifierLength, std::uint16_t xaAttributes, std::uint8_t xaFileNumber)
{
    const std::uint32_t length = RecordSize(identifierLength);
    std::memset(p, 0, length);
    iso9660::DirectoryRecordHead head;
    head.length = static_cast<std::uint8_t>(length);
    head.extent.Set(node.extent);
    head.dataLength.Set(node.size);
    SetRecordingTime(head.recorded);
    head.flags = node.isDirectory ? 2 : 0;
    head.volumeSequenceNumber.Set(1);
    head.identifierLength = static_cast<std::uint8_t>(identifierLength);
    StoreRecord(p, head);
    std::memcpy(p + sizeof head, identifier, identifierLength);
    // CD-XA system use field: owner group and user 0, attributes, "XA", file number.
    iso9660::XaSystemUse xa;
    xa.attributes.Set(xaAttributes);
    xa.fileNumber = xaFileNumber;
    StoreRecord(p + sizeof head + identifierLength + (identifierLength % 2 == 0 ? 1 : 0), xa);
    return length;
}

DirectoryNode MakeDirectory(const std::string& name)
{
    DirectoryNode node;
    node.isDirectory = true;
    node.name = name;
    node.xaAttributes = kXaDirectory;
    return node;
}

DirectoryNode& ChildDirectory(DirectoryNode& parent, const std::string& name)
{
    for (DirectoryNode& child : parent.children)
        if (child.isDirectory && child.name == name)
            return child;
    parent.children.push_back(MakeDirectory(name));
    return parent.children.back();
}

// Adds a file under a "/"-separated path, creating missing directories.
void AddFile(DirectoryNode& root, const std::string& path, std::uint32_t extent, std::uint32_t size, bool form2,
             std::uint8_t fileNumber)
{
    DirectoryNode* directory = &root;
    std::size_t start = 0;
    for (std::size_t slash; (slash = path.find('/', start)) != std::string::npos; start = slash + 1)
        directory = &ChildDirectory(*directory, path.substr(start, slash - start));
    DirectoryNode file;
    file.name = path.substr(start);
    file.extent = extent;
    file.size = size;
    file.xaAttributes = form2 ? kXaForm2File : kXaForm1File;
    file.xaFileNumber = fileNumber;
    directory->children.push_back(std::move(file));
}

void SortTree(DirectoryNode& directory)
{
    std::sort(directory.children.begin(), directory.children.end(),
              [](const DirectoryNode& a, const DirectoryNode& b) { return a.name < b.name; });
    for (DirectoryNode& child : directory.children)
        if (child.isDirectory)
            SortTree(child);
}

void SizeDirectories(DirectoryNode& directory, std::uint32_t& totalSectors)
{
    directory.size = DirectorySize(directory);
    totalSectors += directory.size / kSectorData;
    for (DirectoryNode& child : directory.children)
        if (child.isDirectory)
            SizeDirectories(child, totalSectors);
}

// Depth-first in name order: every directory right after its parent, each subtree whole
// before the next sibling.
void AssignDirectoryExtents(DirectoryNode& directory, std::uint32_t& next)
{
    directory.extent = next;
    next += directory.size / kSectorData;
    for (DirectoryNode& child : directory.children)
        if (child.isDirectory)
            AssignDirectoryExtents(child, next);
}

// Breadth-first list of directories with their parent's number (from 1).
struct PathEntry {
    const DirectoryNode* directory;
    std::uint32_t parentNumber;
};
std::vector<PathEntry> PathOrder(const DirectoryNode& root)
{
    std::vector<PathEntry> order{{&root, 1}};
    for (std::size_t i = 0; i < order.size(); ++i)
        for (const DirectoryNode& child : order[i].directory->children)
            if (child.isDirectory)
                order.push_back({&child, static_cast<std::uint32_t>(i + 1)});
    return order;
}

std::uint32_t PathRecordSize(const DirectoryNode& directory, bool isRoot)
{
    const std::size_t length = isRoot ? 1 : directory.name.size();
    return static_cast<std::uint32_t>(8 + length + (length % 2));
}

// Sector usage map with first-fit allocation.
class SectorMap {
public:
    explicit SectorMap(std::vector<bool>& used) : used_(used) { }
    void Mark(std::uint32_t first, std::uint32_t count, bool value = true)
    {
        if (used_.size() < std::size_t(first) + count)
            used_.resize(std::size_t(first) + count, false);
        std::fill(used_.begin() + first, used_.begin() + first + count, value);
        if (!value)
            lowestFree_ = std::min(lowestFree_, first);
    }
    bool Free(std::uint32_t first, std::uint32_t count) const
    {
        for (std::uint32_t s = first; s < first + count; ++s)
            if (s < used_.size() && used_[s])
                return false;
        return true;
    }
    std::uint32_t FirstFit(std::uint32_t count)
    {
        // Every sector below lowestFree_ is used, so the search may start there.
        while (lowestFree_ < used_.size() && used_[lowestFree_])
            ++lowestFree_;
        std::uint32_t run = 0;
        for (std::uint32_t s = lowestFree_; s < used_.size(); ++s) {
            run = used_[s] ? 0 : run + 1;
            if (run == count)
                return s + 1 - count;
        }
        return static_cast<std::uint32_t>(used_.size()) - run;
    }
    std::uint32_t HighestUsed() const
    {
        for (std::size_t s = used_.size(); s > 0; --s)
            if (used_[s - 1])
                return static_cast<std::uint32_t>(s - 1);
        return 0;
    }

private:
    std::vector<bool>& used_;
    std::uint32_t lowestFree_ = 0;
};

int AddBlock(ImagePlacement& placement, SectorMap& map, const std::string& name, std::uint32_t first,
             std::uint32_t count, std::uint8_t endFlag, std::uint8_t fileNumber)
{
    SystemBlock block;
    block.name = name;
    block.firstSector = first;
    block.sectorCount = count;
    block.endFlag = endFlag;
    block.fileNumber = fileNumber;
    map.Mark(first, count);
    placement.blocks.push_back(std::move(block));
    return static_cast<int>(placement.blocks.size() - 1);
}

void CollectDirectories(DirectoryNode& directory, std::vector<DirectoryNode*>& out)
{
    out.push_back(&directory);
    for (DirectoryNode& child : directory.children)
        if (child.isDirectory)
            CollectDirectories(child, out);
}

std::string Grouped(unsigned long long value)
{
    std::string digits = std::to_string(value);
    for (int i = static_cast<int>(digits.size()) - 3; i > 0; i -= 3)
        digits.insert(static_cast<std::size_t>(i), ",");
    return digits;
}

} // namespace

std::uint32_t DirectorySize(const DirectoryNode& directory)
{
    std::uint32_t position = 2 * kDotRecordSize;
    for (const DirectoryNode& child : directory.children) {
        const std::uint32_t size = RecordSize(RecordIdentifier(child).size());
        if (position % kSectorData + size > kSectorData)
            position = (position / kSectorData + 1) * kSectorData;
        position += size;
    }
    return SectorsFor(position) * kSectorData;
}

std::uint32_t PlaceImage(VideoCdLayout& layout)
{
    ImagePlacement& p = layout.placement;
    const std::uint32_t psdSize = p.psdSize, psdExtendedSize = p.psdExtendedSize;
    p = ImagePlacement{};
    p.psdSize = psdSize;
    p.psdExtendedSize = psdExtendedSize;
    SectorMap map(p.used);
    const bool pbc = HasPlaybackControl(layout);

    map.Mark(0, kSystemAreaSectors);
    map.Mark(kReservedAreaStart, kReservedAreaEnd - kReservedAreaStart);
    map.Mark(kDirectoryAreaStart, kDirectoryAreaEnd - kDirectoryAreaStart); // held until the directories are sized

    p.pvdBlock = AddBlock(p, map, "primary volume descriptor", kPvdSector, 1, kDescriptorEndFlag, 0);
    p.terminatorBlock =
        AddBlock(p, map, "volume descriptor set terminator", kTerminatorSector, 1, kDescriptorEndFlag, 0);
    p.infoBlock = AddBlock(p, map, "INFO.VCD", kInfoSector, 1, kControlFileEndFlag, 0);
    p.entriesBlock = AddBlock(p, map, "ENTRIES.VCD", kEntriesSector, 1, kControlFileEndFlag, 0);
    if (pbc) {
        p.lotBlock = AddBlock(p, map, "LOT.VCD", kLotSector, kLotSectors, kControlFileEndFlag, 0);
        p.psdBlock = AddBlock(p, map, "PSD.VCD", kPsdSector, std::max<std::uint32_t>(SectorsFor(p.psdSize), 1),
                              kControlFileEndFlag, 0);
    }

    // Segment items start on a 75-sector (one second) boundary after the fixed files.
    p.segmentAreaStart = 75 * ((map.HighestUsed() + 1 + 74) / 75);
    map.Mark(0, p.segmentAreaStart);
    p.segmentAreaEnd = p.segmentAreaStart;
    for (SegmentItem& item : layout.segments) {
        const std::uint32_t count = item.units * kSectorsPerSegmentUnit;
        item.firstSector = map.FirstFit(count);
        map.Mark(item.firstSector, count);
        p.segmentAreaEnd = std::max(p.segmentAreaEnd, item.firstSector + count);
    }
    if (pbc) {
        p.lotExtendedBlock =
            AddBlock(p, map, "LOT_X.VCD", map.FirstFit(kLotSectors), kLotSectors, kControlFileEndFlag, 1);
        const std::uint32_t sectors = std::max<std::uint32_t>(SectorsFor(p.psdExtendedSize), 1);
        p.psdExtendedBlock = AddBlock(p, map, "PSD_X.VCD", map.FirstFit(sectors), sectors, kControlFileEndFlag, 1);
    }
    p.extensionEnd = map.HighestUsed() + 1;

    // Directory tree; extents of files inside the ISO area are known now, those of the
    // MPEG track files once the ISO area size is.
    p.root = MakeDirectory("");
    for (const char* name : {"EXT", "MPEGAV", "VCD"})
        ChildDirectory(p.root, name);
    if (!layout.segments.empty())
        ChildDirectory(p.root, "SEGMENT");
    AddFile(p.root, "VCD/INFO.VCD", kInfoSector, kInfoFileSize, false, 0);
    AddFile(p.root, "VCD/ENTRIES.VCD", kEntriesSector, kEntriesFileSize, false, 0);
    if (pbc) {
        AddFile(p.root, "VCD/LOT.VCD", kLotSector, kLotFileSize, false, 0);
        AddFile(p.root, "VCD/PSD.VCD", kPsdSector, p.psdSize, false, 0);
    }
    for (const SegmentItem& item : layout.segments) {
        char name[32];
        std::snprintf(name, sizeof name, "SEGMENT/ITEM%4.4u.DAT", item.unitsBefore + 1);
        AddFile(p.root, name, item.firstSector, item.packetCount * kSectorData, true, 1);
    }
    if (pbc) {
        AddFile(p.root, "EXT/PSD_X.VCD", p.blocks[p.psdExtendedBlock].firstSector, p.psdExtendedSize, false, 1);
        AddFile(p.root, "EXT/LOT_X.VCD", p.blocks[p.lotExtendedBlock].firstSector, kLotFileSize, false, 1);
    }
    for (std::size_t t = 0; t < layout.sequences.size(); ++t) {
        const SequenceItem& item = layout.sequences[t];
        char name[32];
        std::snprintf(name, sizeof name, "MPEGAV/AVSEQ%2.2u.DAT", static_cast<unsigned>(t + 1));
        AddFile(p.root, name, 0, (layout.trackFrontMargin + item.packetCount + layout.trackRearMargin) * kSectorData,
                true, static_cast<std::uint8_t>(t + 1));
    }
    SortTree(p.root);

    std::uint32_t directorySectors = 0;
    SizeDirectories(p.root, directorySectors);
    std::uint32_t directoryStart = kDirectoryAreaStart;
    if (kDirectoryAreaStart + directorySectors + 2 <= kDirectoryAreaEnd) {
        map.Mark(kDirectoryAreaStart, directorySectors + 2, false);
    } else {
        // More directory records than sectors 18 … 74 hold (a disc of well over a thousand
        // segment items): the directories and path tables go after the extension area
        // instead. Players find the control files and items at their fixed places; the
        // directories are read by computers only, which take them anywhere.
        directoryStart = map.FirstFit(directorySectors + 2);
    }
    std::uint32_t next = directoryStart;
    AssignDirectoryExtents(p.root, next);
    std::vector<DirectoryNode*> directories;
    CollectDirectories(p.root, directories);
    for (DirectoryNode* directory : directories) {
        directory->blockIndex = static_cast<std::uint32_t>(p.blocks.size());
        AddBlock(p, map, directory->name.empty() ? "root directory" : directory->name + " directory", directory->extent,
                 directory->size / kSectorData, kDescriptorEndFlag, 0);
    }
    p.pathLittleBlock =
        AddBlock(p, map, "little-endian path table", directoryStart + directorySectors, 1, kDescriptorEndFlag, 0);
    p.pathBigBlock =
        AddBlock(p, map, "big-endian path table", directoryStart + directorySectors + 1, 1, kDescriptorEndFlag, 0);

    p.isoAreaSize = std::max(map.HighestUsed() + 1, kMinimumIsoAreaSize);
    for (DirectoryNode& directory : p.root.children) {
        if (directory.name != "MPEGAV")
            continue;
        for (DirectoryNode& file : directory.children) {
            unsigned number = 0;
            if (std::sscanf(file.name.c_str(), "AVSEQ%2u", &number) == 1 && number >= 1 &&
                number <= layout.sequences.size())
                file.extent = p.isoAreaSize + layout.sequences[number - 1].relativeStart;
        }
    }
    std::uint32_t pathTableSize = 0;
    for (const PathEntry& entry : PathOrder(p.root))
        pathTableSize += PathRecordSize(*entry.directory, entry.directory == &p.root);
    p.pathTableSize = pathTableSize;
    return p.isoAreaSize;
}

void FillSystemBlocks(VideoCdLayout& layout)
{
    ImagePlacement& p = layout.placement;
    for (SystemBlock& block : p.blocks)
        block.data.assign(std::size_t(block.sectorCount) * kSectorData, 0);

    // Directories.
    std::vector<DirectoryNode*> directories;
    CollectDirectories(p.root, directories);
    std::vector<const DirectoryNode*> parents(directories.size(), &p.root);
    for (std::size_t i = 0; i < directories.size(); ++i)
        for (DirectoryNode& child : directories[i]->children)
            if (child.isDirectory)
                for (std::size_t j = 0; j < directories.size(); ++j)
                    if (directories[j] == &child)
                        parents[j] = directories[i];
    for (std::size_t i = 0; i < directories.size(); ++i) {
        const DirectoryNode& directory = *directories[i];
        std::uint8_t* data = p.blocks[directory.blockIndex].data.data();
        const std::uint8_t dot = 0x00, dotDot = 0x01;
        std::uint32_t position = WriteRecord(data, directory, &dot, 1, kXaDirectory, 0);
        DirectoryNode parent = *parents[i];
        parent.isDirectory = true;
        position += WriteRecord(data + position, parent, &dotDot, 1, kXaDirectory, 0);
        for (const DirectoryNode& child : directory.children) {
            const std::string identifier = RecordIdentifier(child);
            const std::uint32_t size = RecordSize(identifier.size());
            if (position % kSectorData + size > kSectorData)
                position = (position / kSectorData + 1) * kSectorData;
            position += WriteRecord(data + position, child, reinterpret_cast<const std::uint8_t*>(identifier.data()),
                                    identifier.size(), child.xaAttributes, child.xaFileNumber);
        }
    }

    // Path tables (ISO 9660 9.4).
    const std::vector<PathEntry> order = PathOrder(p.root);
    for (int big = 0; big < 2; ++big) {
        std::uint8_t* d = p.blocks[big ? p.pathBigBlock : p.pathLittleBlock].data.data();
        std::uint32_t position = 0;
        for (const PathEntry& entry : order) {
            const bool isRoot = entry.directory == &p.root;
            const std::size_t length = isRoot ? 1 : entry.directory->name.size();
            if (position + PathRecordSize(*entry.directory, isRoot) > kSectorData)
                break;
            std::uint8_t* r = d + position;
            if (big) {
                iso9660::BigPathTableRecordHead head;
                head.identifierLength = static_cast<std::uint8_t>(length);
                head.extent.Set(entry.directory->extent);
                head.parentNumber.Set(entry.parentNumber);
                StoreRecord(r, head);
            } else {
                iso9660::LittlePathTableRecordHead head;
                head.identifierLength = static_cast<std::uint8_t>(length);
                head.extent.Set(entry.directory->extent);
                head.parentNumber.Set(entry.parentNumber);
                StoreRecord(r, head);
            }
            if (!isRoot)
                std::memcpy(r + sizeof(iso9660::LittlePathTableRecordHead), entry.directory->name.data(), length);
            position += PathRecordSize(*entry.directory, isRoot);
        }
    }

    // Primary volume descriptor (ISO 9660 8.4).
    {
        iso9660::PrimaryVolumeDescriptor pvd;
        pvd.systemIdentifier.Set("CD-RTOS CD-BRIDGE");
        pvd.volumeIdentifier.Set(layout.volumeIdentifier);
        pvd.volumeSpaceSize.Set(p.isoAreaSize);
        pvd.volumeSetSize.Set(1);
        pvd.volumeSequenceNumber.Set(1);
        pvd.logicalBlockSize.Set(kSectorData);
        pvd.pathTableSize.Set(p.pathTableSize);
        pvd.littlePathTable.Set(p.blocks[p.pathLittleBlock].firstSector);
        pvd.bigPathTable.Set(p.blocks[p.pathBigBlock].firstSector);
        // The root's record (8.4.18) is the 34-byte record of 9.1 without a system-use field.
        const std::uint8_t dot = 0x00;
        std::uint8_t record[64];
        WriteRecord(record, p.root, &dot, 1, kXaDirectory, 0);
        std::memcpy(pvd.rootDirectoryRecord, record, sizeof pvd.rootDirectoryRecord);
        pvd.rootDirectoryRecord[0] = sizeof pvd.rootDirectoryRecord;
        pvd.volumeSetIdentifier.Set("");
        pvd.publisherIdentifier.Set(layout.publisherIdentifier);
        // ASCII capitals, never the locale's: a Turkish one leaves "i" small.
        pvd.preparerIdentifier.Set(ToUpperAscii("LV_VCD version 1.0"));
        pvd.applicationIdentifier.Set(layout.applicationIdentifier);
        pvd.copyrightFileIdentifier.Set("");
        pvd.abstractFileIdentifier.Set("");
        pvd.bibliographicFileIdentifier.Set("");
        const std::tm tm = FixedInstant();
        char date[64];
        std::snprintf(date, sizeof date, "%4.4d%2.2d%2.2d%2.2d%2.2d%2.2d%2.2d", tm.tm_year + 1900, tm.tm_mon + 1,
                      tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, 0);
        std::memcpy(pvd.creation.digits, date, sizeof pvd.creation.digits);
        std::memcpy(pvd.modification.digits, date, sizeof pvd.modification.digits);
        // Neither expiring nor taking effect: all digits "0" (8.4.26.1).
        std::memset(pvd.expiration.digits, '0', sizeof pvd.expiration.digits);
        std::memset(pvd.effective.digits, '0', sizeof pvd.effective.digits);
        std::memcpy(pvd.applicationUse + iso9660::kXaLabelOffsetInApplicationUse, "CD-XA001", 8);
        StoreRecord(p.blocks[p.pvdBlock].data.data(), pvd);
    }
    StoreRecord(p.blocks[p.terminatorBlock].data.data(), iso9660::VolumeDescriptorSetTerminator{});

    WriteInfoFile(layout, p.blocks[p.infoBlock].data.data());
    WriteEntriesFile(layout, p.blocks[p.entriesBlock].data.data());
    if (HasPlaybackControl(layout)) {
        WriteLotFile(layout, true, p.blocks[p.lotExtendedBlock].data.data());
        WritePsdFile(layout, true, p.blocks[p.psdExtendedBlock].data.data());
        WriteLotFile(layout, false, p.blocks[p.lotBlock].data.data());
        WritePsdFile(layout, false, p.blocks[p.psdBlock].data.data());
    }
}

long ComputeLayout(VideoCdLayout& layout)
{
    layout.errorText.clear();
    layout.placement = ImagePlacement{};
    auto refuse = [&](const std::string& text) {
        layout.errorText = text;
        layout.placement = ImagePlacement{};
        return -1L;
    };
    if (layout.segmentUnitTotal > kMaxSegmentUnits)
        return refuse("The disc needs " + Grouped(layout.segmentUnitTotal) +
                      " segment units; a Video CD holds at most 1,980 (INFO.VCD).");
    if (EntryCount(layout) > kMaxEntries)
        return refuse("The disc needs " + Grouped(EntryCount(layout)) +
                      " entry points; a Video CD holds at most 509 (ENTRIES.VCD).");
    if (layout.lists.size() > kMaxLists)
        return refuse("The disc needs " + Grouped(layout.lists.size()) +
                      " playback control lists; a Video CD holds at most 32,767 (LOT.VCD).");
    if (layout.sequences.size() > kMaxSequences)
        return refuse("The disc needs " + Grouped(layout.sequences.size()) +
                      " MPEG tracks; a Video CD holds at most 98.");
    for (const PbcNode& node : layout.lists) {
        if (node.kind == PbcKind::SelectionList && node.selections.size() > 99)
            return refuse("The list \"" + node.identifier + "\" has " + Grouped(node.selections.size()) +
                          " selections; a selection list holds at most 99.");
        if (node.kind == PbcKind::PlayList && node.playItems.size() > 255)
            return refuse("The list \"" + node.identifier + "\" has " + Grouped(node.playItems.size()) +
                          " items; a play list holds at most 255.");
    }
    AssignPsdOffsets(layout);
    // List references are descriptor offsets / 8 in 16 bits, and 0xFFFD … 0xFFFF are reserved.
    for (const PbcNode& node : layout.lists) {
        if (std::max(node.psdOffset, node.psdExtendedOffset) / 8 >= 0xFFFD)
            return refuse("The playback control descriptors need more than 524,264 bytes (PSD_X.VCD); "
                          "the disc has too many lists.");
    }
    const std::uint32_t iso = PlaceImage(layout);
    const std::uint64_t total = std::uint64_t(iso) + layout.sequenceRunningTotal + layout.leadOutPregap;
    if (total > kMaxDiscSectors)
        return refuse("The disc needs " + Grouped(total) + " sectors; a CD holds at most 360,000 (80 minutes).");

    ImagePlacement& p = layout.placement;
    p.totalSectors = static_cast<std::uint32_t>(total);
    p.cueList.push_back({0, CueKind::TrackStart});
    for (const SequenceItem& item : layout.sequences) {
        const std::uint32_t start = iso + item.relativeStart;
        p.cueList.push_back({start - layout.trackPregap, CueKind::PregapStart});
        p.cueList.push_back({start, CueKind::TrackStart});
        for (const EntryPoint& entry : item.entries)
            p.cueList.push_back({start + layout.trackFrontMargin + entry.packetOffset, CueKind::IndexMark});
    }
    p.cueList.push_back({p.totalSectors, CueKind::LeadOutStart});
    p.computed = true;
    return static_cast<long>(total);
}

// ---- Writing ----
namespace {

// Hands sectors to the sink in ascending order, a run of them at a time, and asks the
// progress callback now and then. Sectors are made in place in the run, the user data
// first (Payload), then the rest (Commit); Finish hands over what is left of the run.
class SectorWriter {
public:
    SectorWriter(VideoCdLayout& layout, ImageSink& sink, const WriteProgressCallback& progress)
        : layout_(layout), sink_(sink), progress_(progress), run_(kRunSectors * kRawSectorSize)
    { }

    std::uint32_t Next() const { return next_; }
    void SetNext(std::uint32_t next)
    {
        first_ = next_ = next;
        count_ = 0;
    }

    // Where the user data of the next sector goes (2,048 or 2,324 bytes).
    std::uint8_t* Payload() { return run_.data() + std::size_t(count_) * kRawSectorSize + 24; }

    bool Commit(std::uint8_t fileNumber, std::uint8_t channel, std::uint8_t submode, std::uint8_t coding)
    {
        FinishMode2Sector(run_.data() + std::size_t(count_) * kRawSectorSize, next_, fileNumber, channel, submode,
                          coding);
        ++count_;
        ++next_;
        // The callback sees every sector it is told of already with the sink.
        const bool report = progress_ && next_ % 512 == 0;
        if ((count_ == kRunSectors || report) && !Finish())
            return false;
        if (report && progress_(next_, layout_.placement.totalSectors) != 0)
            return Fail("Writing the disc image was cancelled.");
        return true;
    }

    bool Write(const std::uint8_t* data, std::uint8_t fileNumber, std::uint8_t channel, std::uint8_t submode,
               std::uint8_t coding)
    {
        const std::size_t size = (submode & kSubmodeForm2) ? kForm2DataSize : kForm1DataSize;
        if (data)
            std::memcpy(Payload(), data, size);
        else
            std::memset(Payload(), 0, size);
        return Commit(fileNumber, channel, submode, coding);
    }

    bool Finish()
    {
        if (count_ == 0)
            return true;
        if (sink_.WriteSectors(run_.data(), first_, count_) != 0) {
            const std::string why = sink_.ErrorText();
            return Fail(why.empty() ? "The image sink could not take sector " + Grouped(first_) + "." : why);
        }
        first_ = next_;
        count_ = 0;
        return true;
    }
    bool Fail(const std::string& text)
    {
        layout_.errorText = text;
        return false;
    }

private:
    static constexpr std::uint32_t kRunSectors = 64;
    VideoCdLayout& layout_;
    ImageSink& sink_;
    const WriteProgressCallback& progress_;
    std::vector<std::uint8_t> run_;
    std::uint32_t first_ = 0; // sector number of the run's first sector
    std::uint32_t count_ = 0; // sectors in the run
    std::uint32_t next_ = 0;
};

// Stream index of the first video PES packet inside a pack, or −1. Used when a packet's
// flags name more than one video stream (a system header lists every stream of the file).
int FirstVideoPesStream(const std::uint8_t* data, std::size_t length)
{
    std::size_t p = 0;
    if (length < 12 || data[0] != 0 || data[1] != 0 || data[2] != 1 || data[3] != 0xBA)
        return -1;
    if ((data[4] & 0xC0) == 0x40) { // ISO/IEC 13818-1 pack header
        if (length < 14)
            return -1;
        p = 14 + (data[13] & 7u);
    } else {
        p = 12;
    }
    while (p + 6 <= length && data[p] == 0 && data[p + 1] == 0 && data[p + 2] == 1) {
        const std::uint8_t id = data[p + 3];
        if (id >= kMpegFirstVideoStreamId && id < kMpegFirstVideoStreamId + kMpegVideoStreamCount)
            return id - kMpegFirstVideoStreamId;
        if (id < 0xBB)
            break;
        p += 6 + (std::size_t(data[p + 4]) << 8 | data[p + 5]);
    }
    return -1;
}

int VideoStreamOf(const PacketInfo& info, const std::uint8_t* data)
{
    int count = 0, last = -1;
    for (int s = 0; s < kMpegVideoStreamCount; ++s)
        if (info.video[s]) {
            ++count;
            if (last < 0)
                last = s;
        }
    if (count > 1) {
        const int pes = FirstVideoPesStream(data, info.length);
        if (pes >= 0)
            return pes;
    }
    return last;
}

bool HoldsSequenceEnd(const std::uint8_t* data)
{
    // Looks for the last byte of 00 00 01 B7 with memchr: still packets are mostly picture
    // data, and a byte-wise scan of every one would cost as much as the sector's EDC.
    const std::uint8_t* p = data + 3;
    const std::uint8_t* end = data + kForm2DataSize;
    while (p < end) {
        const void* hit = std::memchr(p, 0xB7, static_cast<std::size_t>(end - p));
        if (!hit)
            return false;
        const std::uint8_t* b = static_cast<const std::uint8_t*>(hit);
        if (b[-3] == 0 && b[-2] == 0 && b[-1] == 1)
            return true;
        p = b + 1;
    }
    return false;
}

// Returns the trigger flag for a packet and uses up the pause points it passes.
std::uint8_t Trigger(const PacketInfo& info, const std::vector<PausePoint>& pauses, std::size_t& next)
{
    if (!info.hasPresentationTime || next >= pauses.size() || info.presentationTime < pauses[next].time)
        return 0;
    while (next < pauses.size() && pauses[next].time <= info.presentationTime)
        ++next;
    return kSubmodeTrigger;
}

bool WriteSegment(VideoCdLayout& layout, SegmentItem& item, SectorWriter& writer)
{
    PacketInfo info;
    std::size_t nextPause = 0;
    const std::string path = item.source ? item.source->Path() : std::string();
    for (std::uint32_t i = 0; i < item.packetCount; ++i) {
        // The packet is read straight into its sector.
        std::uint8_t* packet = writer.Payload();
        if (!item.source || ReadPacket(*item.source, i, packet, &info) != 0) {
            if (item.source)
                CloseMpegSource(*item.source);
            return writer.Fail("The segment file \"" + path +
                               "\" can no longer be read or has changed since it was "
                               "scanned (packet " +
                               std::to_string(i + 1) + " of " + std::to_string(item.packetCount) + ").");
        }
        std::uint8_t submode = 0x60, coding = 0, channel = 0;
        switch (GetPacketKind(info)) {
        case PacketKind::Video: {
            const int stream = VideoStreamOf(info, packet);
            static const std::uint8_t codings[] = {0x0F, 0x1F, 0x3F};
            submode = 0x62;
            coding = codings[stream];
            channel = static_cast<std::uint8_t>(stream + 1);
            if (stream != kMotionVideo && HoldsSequenceEnd(packet))
                submode |= kSubmodeEndOfRecord;
            break;
        }
        case PacketKind::Audio:
            submode = 0x64;
            coding = 0x7F;
            channel = 1;
            break;
        default:
            break;
        }
        submode |= Trigger(info, item.pausePoints, nextPause);
        if (i + 1 == item.packetCount)
            submode |= kSubmodeEndOfFile;
        if (!writer.Commit(1, channel, submode, coding)) {
            CloseMpegSource(*item.source);
            return false;
        }
    }
    CloseMpegSource(*item.source);
    for (std::uint32_t i = item.packetCount; i < item.units * kSectorsPerSegmentUnit; ++i)
        if (!writer.Write(nullptr, 1, 0, 0x60, 0))
            return false;
    (void)layout;
    return true;
}

} // namespace

int WriteIsoTrack(VideoCdLayout& layout, ImageSink& sink, const WriteProgressCallback& progress)
{
    SectorWriter writer(layout, sink, progress);
    const ImagePlacement& p = layout.placement;
    std::vector<int> blockOf(p.isoAreaSize, -1);
    for (std::size_t b = 0; b < p.blocks.size(); ++b)
        for (std::uint32_t s = 0; s < p.blocks[b].sectorCount; ++s) {
            const std::uint32_t sector = p.blocks[b].firstSector + s;
            if (sector < blockOf.size())
                blockOf[sector] = static_cast<int>(b);
        }
    std::size_t segment = 0;
    for (std::uint32_t s = 0; s < p.isoAreaSize;) {
        if (segment < layout.segments.size() && layout.segments[segment].firstSector == s) {
            SegmentItem& item = layout.segments[segment++];
            if (!WriteSegment(layout, item, writer))
                return 1;
            s += item.units * kSectorsPerSegmentUnit;
            continue;
        }
        const int b = blockOf[s];
        std::uint8_t fileNumber = (s >= p.segmentAreaEnd && s < p.extensionEnd) ? 1 : 0;
        std::uint8_t submode = kSubmodeData;
        const std::uint8_t* data = nullptr;
        if (b >= 0) {
            const SystemBlock& block = p.blocks[static_cast<std::size_t>(b)];
            const std::uint32_t offset = s - block.firstSector;
            data = block.data.data() + std::size_t(offset) * kSectorData;
            fileNumber = block.fileNumber;
            if (offset + 1 == block.sectorCount)
                submode |= block.endFlag;
        }
        if (!writer.Write(data, fileNumber, 0, submode, 0))
            return 1;
        ++s;
    }
    return writer.Finish() ? 0 : 1;
}

int WriteMpegTrack(VideoCdLayout& layout, std::size_t trackIndex, ImageSink& sink,
                   const WriteProgressCallback& progress)
{
    SectorWriter writer(layout, sink, progress);
    SequenceItem& item = layout.sequences[trackIndex];
    const auto k = static_cast<std::uint8_t>(trackIndex + 1);
    writer.SetNext(layout.placement.isoAreaSize + item.relativeStart - layout.trackPregap);
    for (std::uint32_t i = 0; i < layout.trackPregap; ++i)
        if (!writer.Write(nullptr, 0, 0, kSubmodeForm2, 0))
            return 1;
    for (std::uint32_t i = 0; i < layout.trackFrontMargin; ++i)
        if (!writer.Write(nullptr, k, 0, 0x60, 0))
            return 1;

    PacketInfo info;
    std::size_t nextPause = 0;
    MpegSource* source = item.source.get();
    const std::string path = source ? source->Path() : std::string();
    for (std::uint32_t i = 0; i < item.packetCount; ++i) {
        if (!source || ReadPacket(*source, i, writer.Payload(), &info) != 0) {
            if (source)
                CloseMpegSource(*source);
            return writer.Fail("The MPEG track file \"" + path +
                               "\" can no longer be read or has changed since it "
                               "was scanned (packet " +
                               std::to_string(i + 1) + " of " + std::to_string(item.packetCount) + ")."),
                   1;
        }
        std::uint8_t submode = 0x60, coding = 0, channel = 0;
        switch (GetPacketKind(info)) {
        case PacketKind::Video:
            submode = 0x62;
            channel = 1;
            coding = 0x0F;
            break;
        case PacketKind::Audio:
            submode = 0x64;
            coding = 0x7F;
            channel = info.audio[0] ? 1 : 2;
            break;
        case PacketKind::OverlayGraphics:
            submode = 0x62;
            channel = 2;
            coding = 0x0F;
            break;
        case PacketKind::Zero:
        case PacketKind::Empty:
            break;
        case PacketKind::Invalid:
            CloseMpegSource(*source);
            return writer.Fail("The MPEG track file \"" + path +
                               "\" holds a packet that is not part of a program "
                               "stream (packet " +
                               std::to_string(i + 1) + ")."),
                   1;
        }
        submode |= Trigger(info, item.pausePoints, nextPause);
        if (i + 1 == item.packetCount) {
            submode |= kSubmodeEndOfRecord;
            if (layout.trackRearMargin == 0)
                submode |= kSubmodeEndOfFile;
        }
        if (!writer.Commit(k, channel, submode, coding)) {
            CloseMpegSource(*source);
            return 1;
        }
    }
    CloseMpegSource(*source);
    for (std::uint32_t i = 0; i < layout.trackRearMargin; ++i) {
        const std::uint8_t submode = i + 1 == layout.trackRearMargin ? 0xE0 : 0x60;
        if (!writer.Write(nullptr, k, 0, submode, 0))
            return 1;
    }
    return writer.Finish() ? 0 : 1;
}

int WriteImage(VideoCdLayout& layout, ImageSink& sink, const WriteProgressCallback& progress)
{
    if (!layout.placement.computed) {
        layout.errorText = "The disc layout has not been computed.";
        return -1;
    }
    layout.errorText.clear();
    FillSystemBlocks(layout);
    if (sink.SetCueList(layout.placement.cueList) != 0) {
        const std::string why = sink.ErrorText();
        layout.errorText = why.empty() ? "The image sink refused the track list." : why;
        return 1;
    }
    if (WriteIsoTrack(layout, sink, progress) != 0)
        return 1;
    for (std::size_t t = 0; t < layout.sequences.size(); ++t)
        if (WriteMpegTrack(layout, t, sink, progress) != 0)
            return 1;
    {
        SectorWriter writer(layout, sink, progress);
        writer.SetNext(layout.placement.totalSectors - layout.leadOutPregap);
        for (std::uint32_t i = 0; i < layout.leadOutPregap; ++i)
            if (!writer.Write(nullptr, 0, 0, kSubmodeForm2, 0))
                return 1;
        if (!writer.Finish())
            return 1;
    }
    if (sink.CloseSink() != 0) {
        const std::string why = sink.ErrorText();
        layout.errorText = why.empty() ? "The image sink could not finish the image." : why;
        return 1;
    }
    return 0;
}

} // namespace lumivox
