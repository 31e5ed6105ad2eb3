// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Disc image file sink: writes the image as a BIN file of 2,352-byte sectors and a CUE
// sheet beside it, so that a disc can be burnt with any tool or tried in a player or
// emulator without a recorder.
//
// The BIN file is written by a thread of the sink's own in large blocks, so that the
// image writer goes on making sectors while the previous block is being stored; a write
// error is reported by the next call to the sink.
//
// Both files are written as pending files beside their targets (see SafeOutput) and
// renamed only when the image is complete, so a failed or cancelled run never leaves a
// partial image under the final name nor damages an older one; the pending files are
// removed. A second run into the same image while one writes it is refused.

#include "base/SafeOutput.h"
#include "vcd/ImageSink.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace lumivox {

class BinCueSink final : public ImageSink {
public:
    // `binPath` is the image file to make; the CUE sheet takes the same name with the
    // extension ".cue".
    explicit BinCueSink(std::string binPath);
    ~BinCueSink() override; // removes the partial files unless CloseSink succeeded

    // Creates both pending files now, so that an image that cannot be written (another
    // run writes it, the folder refuses it) is known before anything is made. SetCueList
    // does it when it was not done. 0, or -1 with ErrorText.
    int Reserve();
    int SetCueList(const std::vector<CueRecord>& cues) override;
    int WriteSector(const std::uint8_t* sector, std::uint32_t sectorNumber) override;
    int WriteSectors(const std::uint8_t* sectors, std::uint32_t firstSector, std::uint32_t count) override;
    int CloseSink() override;
    std::string ErrorText() const override { return error_; }

    const std::string& BinPath() const { return binPath_; }
    const std::string& CuePath() const { return cuePath_; }
    // The CUE sheet text for a cue list (times relative to the start of the BIN file).
    static std::string CueSheetText(const std::string& binFileName, const std::vector<CueRecord>& cues);

private:
    struct FreeDeleter {
        void operator()(std::uint8_t* p) const;
    };
    using Buffer = std::unique_ptr<std::uint8_t, FreeDeleter>;
    struct Block {
        std::size_t buffer = 0; // index into buffers_
        std::size_t size = 0; // bytes
    };

    bool CheckRun(std::uint32_t firstSector, std::uint32_t count);
    bool Submit();
    bool Drain();
    void WriterLoop();
    void StopWriter();
    void Discard();
    int Fail(const std::string& path, const std::string& what, int error);

    std::string binPath_, cuePath_;
    SafeOutput cue_, bin_; // the CUE sheet first: its name is the one a second run is told
    int fd_ = -1; // bin_'s descriptor while the image is written
    std::vector<Buffer> buffers_;
    std::size_t current_ = 0; // buffer being filled
    std::size_t buffered_ = 0; // bytes in it
    std::vector<CueRecord> cues_;
    std::uint32_t nextSector_ = 0;
    std::uint32_t expectedSectors_ = 0;
    bool failed_ = false;
    bool committed_ = false;
    std::string error_;

    // Hand-over to the writing thread: full blocks in order, and buffers free for filling.
    std::thread writer_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Block> full_;
    std::vector<std::size_t> free_;
    bool finishing_ = false; // no more blocks will come
    bool abandon_ = false; // blocks still queued are not to be written
    int writeError_ = 0; // errno of the first failed write
};

} // namespace lumivox
