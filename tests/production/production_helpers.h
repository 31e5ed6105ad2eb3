// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Shared by the production tests: scratch folders, tiny pictures and music written on the
// fly, small projects, an observer that records every report, and sinks that record or
// fail.

#include "production/ProductionJob.h"
#include "project/AlbumTable.h"
#include "vcd/ImageSink.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace lumivox::test {

// A fresh folder under the system's temporary folder, removed at the end.
class Scratch {
public:
    Scratch();
    ~Scratch();
    std::string Path(const std::string& name) const { return (folder_ / name).string(); }
    std::string Folder() const { return folder_.string() + "/"; }

private:
    std::filesystem::path folder_;
};

// The build's program folder (templates, companion stills, MPEG tracks), with "/".
std::string ProgramFolderForTests();

// A width x height 24-bit Windows bitmap of a colour gradient that differs with seed.
void WriteTestBmp(const std::string& path, int width, int height, unsigned seed);
// A 16-bit stereo 44,100 Hz WAVE file of a tone lasting `seconds`.
void WriteTestWave(const std::string& path, double seconds);
void WriteText(const std::string& path, const std::string& text);
std::vector<std::uint8_t> ReadBytes(const std::string& path);
// Empty when the two images are equal; otherwise their sizes and the first differing
// byte with its sector.
std::string FirstDifference(const std::vector<std::uint8_t>& expected, const std::vector<std::uint8_t>& actual);
std::string ReadText(const std::string& path);
// Names separated and followed by a space: "a b ".
std::string Join(const std::vector<std::string>& names);

// Builds a project in `project`: one album per entry of pictureCounts, named "Album N",
// whose pictures are tiny bitmaps written into folder (album a, picture p named
// "a<a>_p<p>.bmp").
void MakeProject(AlbumTable& project, const Scratch& folder, const std::vector<int>& pictureCounts);

// The run's parameters for project, with the installed "classic.ini" (6 entries per page).
ProductionParameters MakeParameters(const AlbumTable& project, const std::string& tempFolder, ImageSink* sink);

struct Report {
    ProgressMessage message;
    std::int64_t first;
    std::int64_t second;
};

// Records everything a run reports; optionally cancels the run when a report matches.
class RecordingObserver : public ProductionObserver {
public:
    void OnProgress(const ProgressEvent& event) override;
    void OnWarning(const std::string& text) override;
    void OnFinished(const ProductionResult& result) override;

    // Sets cancel when `message` is reported with `first` at least `atLeast`.
    void CancelOn(ManualResetEvent* cancel, ProgressMessage message, std::int64_t atLeast = 0);

    std::vector<Report> Reports(ProgressMessage message) const;
    std::vector<ProgressMessage> Sequence() const; // messages in order, repeats folded
    std::vector<Report> reports;
    std::vector<std::string> warnings;
    int finishedCalls = 0;

private:
    mutable std::mutex mutex_;
    ManualResetEvent* cancel_ = nullptr;
    ProgressMessage cancelMessage_ = UM_MENU_ENCODE_BEGIN;
    std::int64_t cancelAtLeast_ = 0;
};

// A sink that keeps the image in memory; it can be told to refuse a sector.
class MemorySink : public ImageSink {
public:
    int SetCueList(const std::vector<CueRecord>& cues) override;
    int WriteSector(const std::uint8_t* sector, std::uint32_t sectorNumber) override;
    int CloseSink() override;
    std::string ErrorText() const override { return error_; }

    std::vector<CueRecord> cues;
    std::vector<std::uint8_t> image;
    std::uint32_t sectors = 0;
    bool closed = false;
    bool cueListGiven = false;
    long failAtSector = -1; // refuse this sector ("disc full")

private:
    std::string error_;
};

// Files of folder whose names match the regular expression, sorted.
std::vector<std::string> FilesMatching(const std::string& folder, const std::string& pattern);
// True when the bytes contain an MPEG packet start code of stream id.
bool HasStartCode(const std::vector<std::uint8_t>& bytes, std::uint8_t id);

} // namespace lumivox::test
