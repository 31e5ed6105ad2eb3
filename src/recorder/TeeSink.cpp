// SPDX-License-Identifier: GPL-2.0-or-later
#include "recorder/TeeSink.h"

namespace lumivox {

int TeeSink::Note(int result, const ImageSink& sink)
{
    if (result != 0 && error_.empty())
        error_ = sink.ErrorText();
    return result;
}

int TeeSink::SetCueList(const std::vector<CueRecord>& cues)
{
    if (Note(first_.SetCueList(cues), first_) != 0)
        return -1;
    return Note(second_.SetCueList(cues), second_) != 0 ? -1 : 0;
}

int TeeSink::WriteSector(const std::uint8_t* sector, std::uint32_t sectorNumber)
{
    return WriteSectors(sector, sectorNumber, 1);
}

int TeeSink::WriteSectors(const std::uint8_t* sectors, std::uint32_t firstSector, std::uint32_t count)
{
    if (Note(first_.WriteSectors(sectors, firstSector, count), first_) != 0)
        return -1;
    return Note(second_.WriteSectors(sectors, firstSector, count), second_) != 0 ? -1 : 0;
}

int TeeSink::CloseSink()
{
    // A run whose burn failed has failed as a whole: the second sink is not closed, so a
    // file sink discards its image when it goes, whether or not every sector reached it
    // before the drive gave up (which depends only on how far the burn had come).
    if (Note(first_.CloseSink(), first_) != 0)
        return -1;
    return Note(second_.CloseSink(), second_) == 0 ? 0 : -1;
}

} // namespace lumivox
