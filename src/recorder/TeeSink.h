// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Gives every call of the image writer to two sinks, so that one run both burns the disc and
// writes the BIN/CUE image (make --burn DEVICE -o DISC.cue). Neither sink is owned.

#include "vcd/ImageSink.h"

namespace lumivox {

class TeeSink final : public ImageSink {
public:
    // `first` is called first each time (give it the recorder feed: when the burn has
    // ended the run stops at once instead of finishing the file first).
    TeeSink(ImageSink& first, ImageSink& second) : first_(first), second_(second) { }

    int SetCueList(const std::vector<CueRecord>& cues) override;
    int WriteSector(const std::uint8_t* sector, std::uint32_t sectorNumber) override;
    int WriteSectors(const std::uint8_t* sectors, std::uint32_t firstSector, std::uint32_t count) override;
    // Closes the first, then the second only when the first succeeded (a failed burn leaves
    // no image file); 0 only when both succeed.
    int CloseSink() override;
    std::string ErrorText() const override { return error_; }

private:
    int Note(int result, const ImageSink& sink);

    ImageSink& first_;
    ImageSink& second_;
    std::string error_;
};

} // namespace lumivox
