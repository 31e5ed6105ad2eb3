// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Small Video CD images and emulated recorders for the recorder tests.

#include "base/Progress.h"
#include "recorder/EmulatedRecorder.h"
#include "recorder/RecorderFeed.h"
#include "vcd/BinCueSink.h"
#include "vcd/VideoCdLayout.h"
#include "vcd/vcd_author_fixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

namespace lumivox::rectest {

using authortest::Bytes;
using authortest::ReadFile;
using authortest::TempFolder;

// A project disc of a few albums, laid out and ready to be written to any sink.
struct SmallDisc {
    TempFolder work, program;
    std::unique_ptr<VideoCdLayout> layout;
    long total = 0;
    explicit SmallDisc(std::vector<int> pictures = {2, 1})
    {
        authortest::WriteProjectFiles(work.Slash(), program.Slash(), pictures, 4, false);
        LayoutProject project;
        project.cdLabel = "BURN TEST";
        project.albumPictureCounts = pictures;
        project.workFolder = work.Slash();
        project.programFolder = program.Slash();
        layout = BuildProjectLayout(project);
        total = ComputeLayout(*layout);
    }
    // Writes the BIN/CUE image as "disc.bin" / "disc.cue" into folder; the path of the CUE.
    std::string WriteBinCue(const std::string& folder)
    {
        BinCueSink sink(folder + "disc.bin");
        EXPECT_EQ(WriteImage(*layout, sink), 0) << layout->errorText;
        return folder + "disc.cue";
    }
};

// Records every progress event (called from the burn thread).
class EventLog : public ProgressListener {
public:
    void OnProgress(const ProgressEvent& event) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        events_.push_back(event);
        if (onEvent)
            onEvent(event);
    }
    std::vector<ProgressEvent> Events() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return events_;
    }
    // Message numbers with consecutive repeats folded, for order checks.
    std::vector<int> Sequence() const
    {
        std::vector<int> sequence;
        for (const ProgressEvent& e : Events())
            if (sequence.empty() || sequence.back() != e.message)
                sequence.push_back(e.message);
        return sequence;
    }
    bool Has(int message) const
    {
        for (const ProgressEvent& e : Events())
            if (e.message == message)
                return true;
        return false;
    }
    std::function<void(const ProgressEvent&)> onEvent; // set before the burn starts

private:
    mutable std::mutex mutex_;
    std::vector<ProgressEvent> events_;
};

inline std::string Emulated(const TempFolder& folder, const std::string& options = "")
{
    return std::string(kEmulatedPrefix) + folder.Path().string() + (options.empty() ? "" : "?" + options);
}

// "equal" or where the two byte strings first differ.
inline std::string FirstDifference(const Bytes& a, const Bytes& b)
{
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i)
        if (a[i] != b[i])
            return "first difference at byte " + std::to_string(i) + " (sector " + std::to_string(i / 2352) +
                   ", offset " + std::to_string(i % 2352) + ")";
    if (a.size() != b.size())
        return "sizes differ: " + std::to_string(a.size()) + " and " + std::to_string(b.size());
    return "equal";
}

inline std::vector<std::string> ReadLines(const std::filesystem::path& path)
{
    const Bytes bytes = ReadFile(path);
    std::vector<std::string> lines;
    std::string line;
    for (std::uint8_t c : bytes) {
        if (c == '\n') {
            lines.push_back(line);
            line.clear();
        } else {
            line += static_cast<char>(c);
        }
    }
    return lines;
}

} // namespace lumivox::rectest
