#pragma once
// Disc image file sink: writes the image as a BIN file of 2,352-byte sectors and a CUE
// sheet beside it, so that a disc can be burnt with any tool or tried in a player or
// emulator without a recorder.
//
// Both files are written under temporary names ("NAME.bin.part", "NAME.cue.part") in the
// target folder and renamed only when the image is complete, so a failed or cancelled
// run never leaves a partial image under the final name; the partial files are removed.

#include "vcd/ImageSink.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace lumivox {

class BinCueSink final : public ImageSink {
public:
    // `binPath` is the image file to make; the CUE sheet takes the same name with the
    // extension ".cue".
    explicit BinCueSink(std::string binPath);
    ~BinCueSink() override; // removes the partial files unless CloseSink succeeded

    int SetCueList(const std::vector<CueRecord>& cues) override;
    int WriteSector(const std::uint8_t* sector, std::uint32_t sectorNumber) override;
    int CloseSink() override;
    std::string ErrorText() const override { return error_; }

    const std::string& BinPath() const { return binPath_; }
    const std::string& CuePath() const { return cuePath_; }
    // The CUE sheet text for a cue list (times relative to the start of the BIN file).
    static std::string CueSheetText(const std::string& binFileName, const std::vector<CueRecord>& cues);

private:
    bool Flush();
    void Discard();
    int Fail(const std::string& path, const std::string& what, int error);

    std::string binPath_, cuePath_, binTemp_, cueTemp_;
    int fd_ = -1;
    struct FreeDeleter {
        void operator()(std::uint8_t* p) const;
    };
    std::unique_ptr<std::uint8_t, FreeDeleter> buffer_;
    std::size_t bufferSize_ = 0;
    std::size_t buffered_ = 0;
    std::vector<CueRecord> cues_;
    std::uint32_t nextSector_ = 0;
    std::uint32_t expectedSectors_ = 0;
    bool failed_ = false;
    bool committed_ = false;
    std::string error_;
};

} // namespace lumivox
