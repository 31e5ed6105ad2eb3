// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Shared by the project tests: a scratch folder, tiny bitmaps written by hand, a fake
// decoder and an observer that records what the user interface would be told.

#include "project/AlbumTable.h"

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

namespace lumivox {

// Readable placements in failure messages.
inline void PrintTo(const ThumbnailPlacement& p, std::ostream* out)
{
    *out << "(x " << p.x << ", y " << p.y << ", " << p.width << " x " << p.height << ")";
}

} // namespace lumivox

namespace lumivox::test {

// A fresh folder under the system's temporary folder, removed at the end.
class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    std::string Path(const std::string& name) const { return (folder_ / name).string(); }
    const std::filesystem::path& Folder() const { return folder_; }

private:
    std::filesystem::path folder_;
};

// Writes a width x height 24-bit Windows bitmap whose pixels encode their position
// (blue = x, green = y, red = 200), so that turned pictures can be told apart.
void WriteBmp24(const std::string& path, int width, int height);

std::string ReadText(const std::string& path);
void WriteText(const std::string& path, const std::string& text);

// A decoder that makes a width x height picture for any path, except paths holding
// "bad", for which it throws PLTextException code 8 with "Unknown file type.".
PictureDecoder FakeDecoder(int width = 40, int height = 30);

class RecordingObserver : public ProjectObserver {
public:
    void OnMessage(const std::string& text) override { messages.push_back(text); }
    void OnPictureAdded(int album, int position) override { added.push_back(album * 100 + position); }
    void OnStatusChanged(const std::string& line) override { status = line; }
    void OnLoadStarted() override { ++loadsStarted; }
    void OnLoadFinished() override { ++loadsFinished; }

    std::vector<std::string> messages;
    std::vector<int> added;
    std::string status;
    int loadsStarted = 0;
    int loadsFinished = 0;
};

} // namespace lumivox::test
