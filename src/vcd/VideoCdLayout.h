// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The Video CD 2.0 to be built: its parameters, segment play items, MPEG tracks and the
// playback control graph, and (once computed) where everything lies on the disc.
//
// Authoring operations return 0 on success and −1 for a refused request, leaving the
// layout unchanged. A layout is built, computed and written on one thread.

#include "base/TvNorm.h"
#include "vcd/ImageSink.h"
#include "vcd/MpegSource.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace lumivox {

enum class DiscType { VideoCd20 };

enum class LayoutText {
    VolumeIdentifier, // ISO 9660 volume identifier: at most 32 d-characters (see MapVolumeLabel)
    PublisherIdentifier, // at most 128 bytes
    ApplicationIdentifier, // at most 128 bytes
    AlbumIdentifier, // album description in INFO.VCD: at most 16 d-characters, as above
};

enum class LayoutNumber {
    VolumeCount, // 1 … 65,535
    VolumeNumber, // at most 65,534
    Restriction, // 0 … 3
    LeadOutPregap, // at most 300 sectors
    TrackPregap, // 1 … 300 sectors (0 becomes 1)
    TrackFrontMargin, // at most 150 sectors
    TrackRearMargin, // at most 150 sectors
};

// Room in the control files and on the disc.
inline constexpr std::uint32_t kMaxSegmentUnits = 1980; // INFO.VCD content bytes
inline constexpr std::uint32_t kMaxEntries = 509; // ENTRIES.VCD table
inline constexpr std::uint32_t kMaxLists = 32767; // LOT.VCD words after word 0
inline constexpr std::uint32_t kMaxSequences = 98; // tracks 2 … 99
inline constexpr std::uint32_t kMaxDiscSectors = 360000; // 80 minutes
inline constexpr std::uint32_t kSectorsPerSegmentUnit = 150;

// Play item number bases.
inline constexpr std::uint32_t kFirstTrackItem = 2;
inline constexpr std::uint32_t kFirstEntryItem = 100;
inline constexpr std::uint32_t kFirstSegmentItem = 1000;

struct PausePoint {
    double time = 0.0; // seconds from the item's first presentation time
    std::string identifier; // may be empty
};

struct SegmentItem {
    std::unique_ptr<MpegSource> source;
    std::string identifier;
    std::uint32_t packetCount = 0;
    std::uint32_t units = 0; // ceiling(packetCount / 150)
    std::uint32_t unitsBefore = 0; // units of the items before this one
    std::vector<PausePoint> pausePoints; // ascending by time
    std::uint32_t firstSector = 0; // once placed
};

struct EntryPoint {
    std::string identifier;
    std::uint32_t packetOffset = 0; // packets from the start of the track's MPEG data
};

struct SequenceItem {
    std::unique_ptr<MpegSource> source;
    std::string identifier;
    std::string defaultEntryIdentifier;
    std::vector<EntryPoint> entries; // further entry points
    std::vector<PausePoint> pausePoints;
    std::uint32_t packetCount = 0;
    std::uint32_t relativeStart = 0; // from the end of the ISO area to the track's MPEG file
};

enum class PbcKind { SelectionList, PlayList, EndList };

// A node of the playback control graph. Only selection lists are made from a project;
// play and end lists are encoded when a caller adds them.
struct PbcNode {
    PbcKind kind = PbcKind::SelectionList;
    std::string identifier;
    std::string previous, next, returnTarget; // list identifiers, empty for none
    int selectionType = 0; // 0 normal, 1 and 2 multi-default
    int baseSelectionNumber = 1;
    int loopCount = 1; // at most 127
    bool jumpDelayed = false;
    std::string defaultTarget, timeoutTarget;
    int timeoutTime = -1; // seconds, −1 waits for ever
    std::string playItem; // identifier of the shown item, empty for none
    std::vector<std::string> selections;
    // Play lists only.
    std::vector<std::string> playItems;
    double playingTime = 0.0; // seconds
    int waitTime = -1;
    int autoPauseWaitTime = -1;

    bool rejected = false; // a rejected list gets no LOT entry
    // Assigned by AssignPsdOffsets.
    std::uint32_t lid = 0;
    std::uint32_t psdOffset = 0;
    std::uint32_t psdExtendedOffset = 0;
};

enum class IdentifierKind { None, Segment, Sequence, Entry, List };

struct IdentifierInfo {
    IdentifierKind kind = IdentifierKind::None;
    std::uint32_t index = 0; // in the list of its kind (entries: running index)
    std::uint32_t playItemNumber = 0; // 0 for lists and unknown identifiers
};

// A contiguous run of ISO area sectors whose content is held in memory.
struct SystemBlock {
    std::string name;
    std::uint32_t firstSector = 0;
    std::uint32_t sectorCount = 0;
    std::uint8_t endFlag = 0; // submode flags of the last sector (0x81 or 0x80)
    std::uint8_t fileNumber = 0; // CD-XA file number of the sectors
    std::vector<std::uint8_t> data; // sectorCount × 2,048 bytes once filled
};

struct DirectoryNode {
    bool isDirectory = false;
    std::string name;
    std::uint32_t extent = 0;
    std::uint32_t size = 0; // bytes
    std::uint16_t xaAttributes = 0;
    std::uint8_t xaFileNumber = 0;
    std::vector<DirectoryNode> children; // sorted by name
    std::uint32_t blockIndex = 0; // directories: their system block
};

// Where everything lies; made by ComputeLayout.
struct ImagePlacement {
    bool computed = false;
    std::vector<bool> used; // sector usage map of the ISO area
    std::vector<SystemBlock> blocks;
    int pvdBlock = -1, terminatorBlock = -1, pathLittleBlock = -1, pathBigBlock = -1;
    int infoBlock = -1, entriesBlock = -1, lotBlock = -1, psdBlock = -1;
    int lotExtendedBlock = -1, psdExtendedBlock = -1;
    DirectoryNode root;
    std::uint32_t pathTableSize = 0;
    std::uint32_t psdSize = 0, psdExtendedSize = 0;
    std::uint32_t segmentAreaStart = 0; // S
    std::uint32_t segmentAreaEnd = 0; // first sector after the last segment
    std::uint32_t extensionEnd = 0; // E
    std::uint32_t isoAreaSize = 0;
    std::uint32_t totalSectors = 0;
    std::vector<CueRecord> cueList;
};

struct VideoCdLayout {
    VideoCdLayout();
    ~VideoCdLayout();
    VideoCdLayout(const VideoCdLayout&) = delete;
    VideoCdLayout& operator=(const VideoCdLayout&) = delete;

    DiscType discType = DiscType::VideoCd20;
    std::string volumeIdentifier;
    std::string publisherIdentifier;
    std::string applicationIdentifier;
    std::string albumIdentifier;
    std::uint16_t volumeCount = 1;
    std::uint16_t volumeNumber = 1;
    std::uint8_t restriction = 0;
    std::uint32_t leadOutPregap = 150;
    std::uint32_t trackPregap = 150;
    std::uint32_t trackFrontMargin = 30;
    std::uint32_t trackRearMargin = 45;

    std::vector<SegmentItem> segments;
    std::vector<SequenceItem> sequences;
    std::vector<PbcNode> lists;

    std::uint32_t segmentUnitTotal = 0; // sum of all segments' units
    std::uint32_t sequenceRunningTotal = 0;
    std::unordered_map<std::string, std::pair<IdentifierKind, std::uint32_t>> identifiers;

    ImagePlacement placement;
    std::string errorText; // why the last ComputeLayout or WriteImage failed
};

// Called every few hundred sectors while the image is written; a nonzero result stops
// the writing.
using WriteProgressCallback = std::function<int(std::uint64_t sectorsWritten, std::uint64_t totalSectors)>;

std::unique_ptr<VideoCdLayout> CreateLayout(DiscType type = DiscType::VideoCd20);
// Texts longer than their limit are cut (on a UTF-8 character boundary) and stored as given.
int SetLayoutText(VideoCdLayout& layout, LayoutText parameter, std::string_view text);
// Numbers outside their range are brought to the nearest allowed value.
int SetLayoutNumber(VideoCdLayout& layout, LayoutNumber parameter, long value);

// Refused when the identifier is empty or already in use.
int AddPbcNode(VideoCdLayout& layout, PbcNode node);
// Scans the source; refused without an identifier, for one in use, or when the source is
// missing, cannot be read or has no packets.
int AddSegmentItem(VideoCdLayout& layout, std::unique_ptr<MpegSource> source, const std::string& identifier);
int AddSegmentItem(VideoCdLayout& layout, const std::string& path, const std::string& identifier);
// A segment of packetCount packets with no file behind it (the size of a disc still to be
// made); refused without an identifier, for one in use, or for 0 packets.
int AddSizedSegmentItem(VideoCdLayout& layout, const std::string& identifier, std::uint32_t packetCount);
// A track of packetCount packets with no file behind it, likewise.
int AddSizedSequenceItem(VideoCdLayout& layout, const std::string& sequenceIdentifier,
                         const std::string& entryIdentifier, std::uint32_t packetCount);
// Adds a pause point to the named segment (empty: the last one); −1 for an unknown segment.
int AddSegmentPause(VideoCdLayout& layout, const std::string& segmentIdentifier, double time,
                    const std::string& pauseIdentifier = {});
// Refused when either identifier is empty or in use, when both are equal, or when the
// source is missing, cannot be read or has no packets.
int AddSequenceItem(VideoCdLayout& layout, std::unique_ptr<MpegSource> source, const std::string& sequenceIdentifier,
                    const std::string& entryIdentifier);
int AddSequenceItem(VideoCdLayout& layout, const std::string& path, const std::string& sequenceIdentifier,
                    const std::string& entryIdentifier);
// Adds a further entry point to a track; refused for an unknown track, an identifier in
// use, an offset beyond the track's packets, or one not after the track's last entry.
int AddSequenceEntry(VideoCdLayout& layout, const std::string& sequenceIdentifier, const std::string& entryIdentifier,
                     std::uint32_t packetOffset);

// Kind and play item number of an identifier.
IdentifierInfo LookupIdentifier(const VideoCdLayout& layout, const std::string& identifier);
std::uint32_t PlayItemNumber(const VideoCdLayout& layout, const std::string& identifier);
// Index of the list with this identifier, or −1.
int FindList(const VideoCdLayout& layout, const std::string& identifier);
bool HasPlaybackControl(const VideoCdLayout& layout);
std::uint32_t EntryCount(const VideoCdLayout& layout);

// Assigns LIDs and descriptor offsets and places every file and item on sectors.
// Returns the image's total sector count, or −1 when the disc cannot be made (the
// control files or the disc have no room for it); errorText then names the limit.
long ComputeLayout(VideoCdLayout& layout);
// Writes every sector of the computed image through the sink and closes it. Returns 0;
// 1 when the writing stopped early (progress callback, unreadable or changed source file,
// unclassifiable track packet, sink failure) — errorText says why and the sink is not
// closed; −1 when the layout was not computed.
int WriteImage(VideoCdLayout& layout, ImageSink& sink, const WriteProgressCallback& progress = {});
// Closes every source file; the layout stays inspectable.
void FinishLayout(VideoCdLayout& layout);
void DestroyLayout(std::unique_ptr<VideoCdLayout>& layout);

// The project as the layout sees it: everything the disc is built from.
struct LayoutProject {
    std::string cdLabel;
    int albumsPerPage = 4; // entries of a menu page (template item count)
    std::vector<int> albumPictureCounts; // one per album, in order
    std::string workFolder; // with a trailing "/": holds the segment files
    std::string programFolder; // with a trailing "/": holds "avseq01.npal" / "avseq01.ntsc"
    TvNorm norm = TvNorm::Ntsc;
    // Empty: the segment files "menu_%02d.mpg" and "menu_%02d_pic_%02d.mpg" of workFolder
    // are scanned. Otherwise one packet count per segment (menu pages, then slides), and
    // no segment file is read: the layout of a disc that is still to be made, for its
    // size (such a layout can be computed but not written).
    std::vector<std::uint32_t> segmentPackets;
    // The MPEG track: empty for the norm's fixed track of programFolder; otherwise this
    // file (the slideshow), with a further entry point ("Chapter-0001-%02d") at each of
    // trackEntryPackets (ascending packet offsets into the file).
    std::string trackPath;
    std::vector<std::uint32_t> trackEntryPackets;
    // With trackPackets > 0 and segmentPackets given, no track file is read: a track of
    // that many packets with trackEntryPackets as its further entries (the size of a
    // slideshow still to be made).
    std::uint32_t trackPackets = 0;
};

// Builds the layout of a photo album disc: one menu page list per page of albums, one
// slide list per picture, one segment per page and slide, and the norm's MPEG track.
// Refusals of single items are ignored, as the disc is built from whatever exists.
std::unique_ptr<VideoCdLayout> BuildProjectLayout(const LayoutProject& project);

// Identifier texts of the project layout.
std::string SelectionIdentifier(int number); // "Selection-0%02d"
std::string SegmentIdentifier(int number); // "segment-00%02d"

} // namespace lumivox
