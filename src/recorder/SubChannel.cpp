// SPDX-License-Identifier: GPL-2.0-or-later
#include "recorder/SubChannel.h"

#include "vcd/Sector.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace lumivox {
namespace {

CueSheetEntry MakeEntry(std::uint8_t controlAdr, std::uint8_t track, std::uint8_t index, std::uint8_t form,
                        std::uint32_t time)
{
    CueSheetEntry entry;
    entry.controlAdr = controlAdr;
    entry.track = track;
    entry.index = index;
    entry.dataForm = form;
    entry.minute = static_cast<std::uint8_t>(time / 4500);
    entry.second = static_cast<std::uint8_t>(time / 75 % 60);
    entry.frame = static_cast<std::uint8_t>(time % 75);
    return entry;
}

void Append(std::vector<std::uint8_t>* sheet, const CueSheetEntry& entry)
{
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&entry);
    sheet->insert(sheet->end(), bytes, bytes + sizeof entry);
}

// BCD of a value 0-99; larger values (minutes past 99) wrap as a drive's counter does.
std::uint8_t Bcd(int value)
{
    return ToBcd(static_cast<unsigned>(value) % 100);
}

void PutBcdTime(std::uint8_t* out, std::int64_t blocks)
{
    if (blocks < 0)
        blocks = -blocks;
    out[0] = Bcd(static_cast<int>(blocks / 4500));
    out[1] = Bcd(static_cast<int>(blocks / 75 % 60));
    out[2] = Bcd(static_cast<int>(blocks % 75));
}

std::string Numbered(const char* format, int number)
{
    char text[96];
    std::snprintf(text, sizeof text, format, number);
    return text;
}

} // namespace

int BuildCueSheet(const std::vector<CueRecord>& cues, std::vector<std::uint8_t>* sheet)
{
    sheet->clear();
    Append(sheet, MakeEntry(kCueLeadInControlAdr, 0, 0, kCueDataFormGenerated, 0));
    int track = 0, index = 1;
    bool pregapPending = false;
    std::uint32_t pregap = 0;
    const CueRecord* previous = nullptr;
    for (const CueRecord& cue : cues) {
        if (sheet->size() + 3 * sizeof(CueSheetEntry) > kCueSheetMaxBytes)
            return -1;
        switch (cue.kind) {
        case CueKind::PregapStart:
            pregapPending = true;
            pregap = cue.sector;
            break;
        case CueKind::TrackStart:
            ++track;
            if (track > 99)
                return -1;
            // Track 1's index 0 always begins at 00:00:00; an image that holds part of that
            // pregap (a CUE with INDEX 00 on track 1) lengthens it, it does not start it again.
            if (previous && previous->kind == CueKind::PregapStart && pregapPending && track > 1)
                Append(sheet, MakeEntry(kCueTrackControlAdr, std::uint8_t(track), 0, kCueDataFormMode2,
                                        pregap + kSectorAddressOffset));
            if (track == 1)
                Append(sheet, MakeEntry(kCueTrackControlAdr, 1, 0, kCueDataFormMode2, 0));
            Append(sheet, MakeEntry(kCueTrackControlAdr, std::uint8_t(track), 1, kCueDataFormMode2,
                                    cue.sector + kSectorAddressOffset));
            pregapPending = false;
            index = 1;
            break;
        case CueKind::IndexMark:
            if (track == 0 || index >= 99)
                return -1;
            ++index;
            Append(sheet, MakeEntry(kCueTrackControlAdr, std::uint8_t(track), std::uint8_t(index), kCueDataFormMode2,
                                    cue.sector + kSectorAddressOffset));
            break;
        case CueKind::LeadOutStart:
            Append(sheet, MakeEntry(kCueLeadInControlAdr, kCueLeadOutTrack, 1, kCueDataFormGenerated,
                                    cue.sector + kSectorAddressOffset));
            return &cue == &cues.back() ? 0 : -1;
        }
        previous = &cue;
    }
    return -1;
}

const std::array<std::uint8_t, 2340>& ScramblerSequence()
{
    static const std::array<std::uint8_t, 2340> sequence = [] {
        std::array<std::uint8_t, 2340> table{};
        std::uint16_t reg = 1; // ECMA-130 B.2: the shift register is preset to 0000 0000 0000 0001
        for (std::uint8_t& byte : table) {
            std::uint8_t value = 0;
            for (int bit = 0; bit < 8; ++bit) {
                value |= static_cast<std::uint8_t>((reg & 1) << bit); // least significant bit first
                const std::uint16_t feedback = (reg ^ (reg >> 1)) & 1;
                reg = static_cast<std::uint16_t>((reg >> 1) | (feedback << 14));
            }
            byte = value;
        }
        return table;
    }();
    return sequence;
}

void ScrambleSector(std::uint8_t* sector)
{
    const auto& sequence = ScramblerSequence();
    std::uint8_t* data = sector + 12; // the sync pattern is not scrambled
    std::size_t i = 0;
    for (; i + 8 <= sequence.size(); i += 8) {
        std::uint64_t a, b;
        std::memcpy(&a, data + i, 8);
        std::memcpy(&b, sequence.data() + i, 8);
        a ^= b;
        std::memcpy(data + i, &a, 8);
    }
    for (; i < sequence.size(); ++i)
        data[i] ^= sequence[i]; // 2,340 is not a multiple of 8
}

void PrepareRawSector(std::uint8_t* sector, std::uint32_t absoluteAddress)
{
    sector[12] = Bcd(static_cast<int>(absoluteAddress / 4500));
    sector[13] = Bcd(static_cast<int>(absoluteAddress / 75 % 60));
    sector[14] = Bcd(static_cast<int>(absoluteAddress % 75));
    ScrambleSector(sector);
}

void MakeRawZeroSector(std::uint8_t* sector, std::uint32_t headerAddress)
{
    // A valid CD-ROM XA filler: Mode 2 Form 2 (submode 0x20) of zeros with its EDC, the
    // kind a reader expects in a pregap or lead-out, not zeros that claim to be Form 1.
    std::memset(sector, 0, kRawSectorSize);
    FinishMode2Sector(sector, 0, 0, 0, 0x20, 0);
    PrepareRawSector(sector, headerAddress);
}

std::uint16_t Crc16(const std::uint8_t* data, std::size_t size)
{
    std::uint16_t crc = 0;
    for (std::size_t i = 0; i < size; ++i) {
        crc ^= static_cast<std::uint16_t>(data[i] << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<std::uint16_t>(crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    return crc;
}

std::uint16_t QCrc(const std::uint8_t* q10)
{
    return Crc16(q10, 10);
}

void PqSubcode16::Encode(const std::uint8_t* q10, bool p, std::uint8_t* out) const
{
    std::memcpy(out, q10, 10);
    const std::uint16_t crc = QCrc(q10);
    out[10] = static_cast<std::uint8_t>(crc >> 8);
    out[11] = static_cast<std::uint8_t>(crc);
    out[12] = out[13] = out[14] = 0;
    out[15] = p ? 0x80 : 0;
}

void PqSubcode16::Decode(const std::uint8_t* in, bool* p, std::uint8_t* q12) const
{
    std::memcpy(q12, in, 12);
    *p = (in[15] & 0x80) != 0;
}

void PwSubcode96::Encode(const std::uint8_t* q10, bool p, std::uint8_t* out) const
{
    std::uint8_t q[12];
    std::memcpy(q, q10, 10);
    const std::uint16_t crc = static_cast<std::uint16_t>(~QCrc(q10)); // ECMA-130 22.3.4: parity inverted
    q[10] = static_cast<std::uint8_t>(crc >> 8);
    q[11] = static_cast<std::uint8_t>(crc);
    for (int i = 0; i < 96; ++i)
        out[i] = static_cast<std::uint8_t>((p ? 0x80 : 0) | ((q[i / 8] >> (7 - i % 8)) & 1) << 6);
}

void PwSubcode96::Decode(const std::uint8_t* in, bool* p, std::uint8_t* q12) const
{
    std::memset(q12, 0, 12);
    for (int i = 0; i < 96; ++i)
        q12[i / 8] |= static_cast<std::uint8_t>(((in[i] >> 6) & 1) << (7 - i % 8));
    *p = (in[0] & 0x80) != 0;
    // Hand the CRC back as the 16-byte format carries it, so callers compare one way.
    q12[10] = static_cast<std::uint8_t>(~q12[10]);
    q12[11] = static_cast<std::uint8_t>(~q12[11]);
}

bool PQChannelEncoder::Start(const SubchannelFormat* format, int discType, const std::uint8_t* cueSheet,
                             std::size_t length, std::int32_t leadInFirstAddress, std::string* diagnostic)
{
    auto reject = [&](const std::string& text) {
        if (diagnostic)
            *diagnostic = text;
        entries_.clear();
        toc_.clear();
        return false;
    };
    if (discType != 0 && discType != 16 && discType != 32)
        return reject("Illegal disc type.");
    if (length % 8 != 0)
        return reject("Illegal cue sheet length.");
    const int count = static_cast<int>(length / 8);
    std::vector<CueSheetEntry> entries(static_cast<std::size_t>(count));
    if (count)
        std::memcpy(entries.data(), cueSheet, length);

    bool leadInSeen = false, leadOutSeen = false;
    int firstEntry = 0; // the lead-in's place: 0, or 2 after a catalog number pair
    int previousTrack = -1;
    std::int32_t previousTime = -1;
    int firstTrack = 0, lastTrack = 0;
    for (int i = 0; i < count; ++i) {
        const CueSheetEntry& e = entries[static_cast<std::size_t>(i)];
        const int adr = e.controlAdr & 0x0F;
        if (adr == 2) {
            if (i != 0)
                return reject("Catalog number must be first cue sheet entry.");
            if (i + 1 >= count || (entries[1].controlAdr & 0x0F) != 2)
                return reject("Missing second catalog number entry.");
            firstEntry = 2;
            ++i;
            continue;
        }
        if (adr == 3) {
            if (i + 1 >= count || (entries[static_cast<std::size_t>(i) + 1].controlAdr & 0x0F) != 3)
                return reject("Missing second ISRC code entry.");
            ++i;
            continue;
        }
        if (adr != 1)
            return reject(Numbered("Illegal adr field at cue sheet entry: %d.", i));
        if (e.minute >= 100 || e.second >= 60 || e.frame > 74)
            return reject(Numbered("Illegal time field value at cue sheet entry: %d", i));
        if (e.track >= 100 && e.track != kCueLeadOutTrack)
            return reject(Numbered("Illegal track number at cue sheet entry: %d", i));
        if (!leadInSeen) {
            if (e.track != 0 || i != firstEntry)
                return reject("Cue sheet contains no lead-in entry.");
            leadInSeen = true;
            previousTrack = 0;
            continue;
        }
        if (leadOutSeen)
            return reject("Cue sheet contains no lead-out entry.");
        if (e.track == kCueLeadOutTrack) {
            leadOutSeen = true;
            if (i != count - 1)
                return reject("Cue sheet contains no lead-out entry.");
        } else if (e.track != previousTrack && e.track != previousTrack + 1) {
            return reject(Numbered("Wrong track number sequence at cue sheet entry: %d", i));
        }
        if (e.track != 0) {
            if (e.Time() <= previousTime)
                return reject(Numbered("Time field does not increase at cue sheet entry: %d", i));
            previousTime = e.Time();
        }
        if (e.track != kCueLeadOutTrack) {
            if (e.track != 0 && firstTrack == 0)
                firstTrack = e.track;
            lastTrack = e.track;
            previousTrack = e.track;
        }
    }
    if (!leadInSeen)
        return reject("Cue sheet contains no lead-in entry.");
    if (!leadOutSeen)
        return reject("Cue sheet contains no lead-out entry.");
    if (firstTrack == 0)
        return reject("Cue sheet contains no data track.");

    // Only the ADR 1 entries take part in positioning; catalog and ISRC entries are checked above.
    entries_.clear();
    for (const CueSheetEntry& e : entries)
        if ((e.controlAdr & 0x0F) == 1)
            entries_.push_back(e);
    toc_.clear();
    const CueSheetEntry* first = nullptr;
    const CueSheetEntry* last = nullptr;
    for (const CueSheetEntry& e : entries_)
        if (e.track != 0 && e.track != kCueLeadOutTrack && e.index == 1) {
            TocItem item;
            item.control = e.controlAdr >> 4;
            item.point = Bcd(e.track);
            item.pmin = Bcd(e.minute);
            item.psec = Bcd(e.second);
            item.pframe = Bcd(e.frame);
            toc_.push_back(item);
            if (!first)
                first = &e;
            last = &e;
        }
    const CueSheetEntry& leadOut = entries_.back();
    if (!first)
        return reject("Cue sheet contains no data track.");
    toc_.push_back(
        {static_cast<std::uint8_t>(first->controlAdr >> 4), 0xA0, Bcd(firstTrack), Bcd(discType / 16 * 10), 0});
    toc_.push_back({static_cast<std::uint8_t>(last->controlAdr >> 4), 0xA1, Bcd(lastTrack), 0, 0});
    toc_.push_back({static_cast<std::uint8_t>(leadOut.controlAdr >> 4), 0xA2, Bcd(leadOut.minute), Bcd(leadOut.second),
                    Bcd(leadOut.frame)});
    format_ = format;
    leadInFirst_ = leadInFirstAddress;
    leadOutAddress_ = leadOut.Time() - 150;
    return true;
}

void PQChannelEncoder::Compute(std::int32_t address, bool* p, std::uint8_t* q) const
{
    std::memset(q, 0, 10);
    *p = false;
    if (entries_.empty())
        return;
    // The entry the block lies in: the last whose start is not after it (the lead-in entry
    // and track 1 index 0 share 00:00:00; the later one wins).
    int at = -1;
    for (std::size_t i = 1; i < entries_.size(); ++i)
        if (entries_[i].Time() - 150 <= address)
            at = static_cast<int>(i);
    if (at < 0) {
        // Lead-in: the TOC items in turn, each in three consecutive blocks.
        const std::int64_t running = static_cast<std::int64_t>(address) - leadInFirst_;
        const std::int64_t slot = running >= 0 ? running / 3 : 0;
        const TocItem& item = toc_[static_cast<std::size_t>(slot % static_cast<std::int64_t>(toc_.size()))];
        q[0] = static_cast<std::uint8_t>(item.control << 4 | 1);
        q[1] = 0;
        q[2] = item.point;
        PutBcdTime(q + 3, running);
        q[6] = 0;
        q[7] = item.pmin;
        q[8] = item.psec;
        q[9] = item.pframe;
        return;
    }
    const CueSheetEntry& e = entries_[static_cast<std::size_t>(at)];
    const std::int32_t start = e.Time() - 150;
    std::int32_t counter;
    if (e.index == 0) {
        const std::int32_t next = static_cast<std::size_t>(at) + 1 < entries_.size()
                                      ? entries_[static_cast<std::size_t>(at) + 1].Time() - 150
                                      : start;
        counter = address - next; // counts up from −(length of index 0)
    } else {
        std::int32_t indexOne = start;
        for (int i = at; i >= 1; --i) {
            const CueSheetEntry& back = entries_[static_cast<std::size_t>(i)];
            if (back.track != e.track)
                break;
            if (back.index == 1)
                indexOne = back.Time() - 150;
        }
        counter = address - indexOne;
    }
    q[0] = static_cast<std::uint8_t>((e.controlAdr & 0xF0) | 1);
    q[1] = e.track == kCueLeadOutTrack ? kCueLeadOutTrack : Bcd(e.track);
    q[2] = Bcd(e.index);
    PutBcdTime(q + 3, counter);
    q[6] = 0;
    PutBcdTime(q + 7, static_cast<std::int64_t>(address) + 150);

    bool flag = counter <= 0;
    // The 150 blocks before the next track's (or the lead-out's) index 1.
    for (std::size_t i = static_cast<std::size_t>(at) + 1; i < entries_.size(); ++i) {
        const CueSheetEntry& next = entries_[i];
        if (next.track != e.track && next.index == 1) {
            const std::int32_t nextStart = next.Time() - 150;
            if (address >= nextStart - 150 && address <= nextStart)
                flag = true;
            break;
        }
    }
    if (!flag && address >= leadOutAddress_ + 150) {
        const std::int32_t phase = (counter - 150) % 38;
        flag = phase < 19;
    }
    *p = flag;
}

void PQChannelEncoder::Encode(std::int32_t address, std::uint8_t* out) const
{
    bool p = false;
    std::uint8_t q[10];
    Compute(address, &p, q);
    format_->Encode(q, p, out);
}

std::vector<CueRecord> CueListFromSheet(const std::uint8_t* sheet, std::size_t length)
{
    std::vector<CueRecord> cues;
    for (std::size_t offset = 0; offset + 8 <= length; offset += 8) {
        CueSheetEntry e;
        std::memcpy(&e, sheet + offset, 8);
        if ((e.controlAdr & 0x0F) != 1 || e.track == 0)
            continue;
        const std::int32_t sector = e.Time() - 150;
        if (sector < 0)
            continue; // track 1 index 0: the disc's fixed pregap, not in the image
        CueRecord record;
        record.sector = static_cast<std::uint32_t>(sector);
        if (e.track == kCueLeadOutTrack)
            record.kind = CueKind::LeadOutStart;
        else if (e.index == 0)
            record.kind = CueKind::PregapStart;
        else if (e.index == 1)
            record.kind = CueKind::TrackStart;
        else
            record.kind = CueKind::IndexMark;
        cues.push_back(record);
    }
    return cues;
}

} // namespace lumivox
