// SPDX-License-Identifier: GPL-2.0-or-later
#include "project/ProjectFolders.h"

#include "base/TextUtil.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace lumivox {

namespace {

namespace fs = std::filesystem;

constexpr const char* kPictureExtensions[] = {".jpg", ".jpeg", ".tif",  ".tiff", ".bmp", ".eps",
                                              ".png", ".webp", ".heic", ".heif", ".hif"};

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

int AsciiLower(char c)
{
    const auto byte = static_cast<unsigned char>(c);
    return byte >= 'A' && byte <= 'Z' ? byte - 'A' + 'a' : byte;
}

} // namespace

bool IsProjectPictureName(const std::string& fileName)
{
    const std::string extension = ToLowerAscii(fs::path(fileName).extension().string());
    return std::find(std::begin(kPictureExtensions), std::end(kPictureExtensions), extension) !=
           std::end(kPictureExtensions);
}

bool NaturalLess(const std::string& left, const std::string& right)
{
    std::size_t i = 0, j = 0;
    while (i < left.size() && j < right.size()) {
        if (IsDigit(left[i]) && IsDigit(right[j])) {
            // Compare the numbers' values: skip leading zeros, then length, then digits.
            std::size_t a = i, b = j;
            while (a < left.size() && left[a] == '0')
                ++a;
            while (b < right.size() && right[b] == '0')
                ++b;
            std::size_t endA = a, endB = b;
            while (endA < left.size() && IsDigit(left[endA]))
                ++endA;
            while (endB < right.size() && IsDigit(right[endB]))
                ++endB;
            if (endA - a != endB - b)
                return endA - a < endB - b;
            const int order = left.compare(a, endA - a, right, b, endB - b);
            if (order != 0)
                return order < 0;
            i = endA;
            j = endB;
            continue;
        }
        // ASCII case only: the locale's would order "Ice" and "hat" differently under a
        // Turkish one, and a folder's album would differ between two commands.
        const int l = AsciiLower(left[i]);
        const int r = AsciiLower(right[j]);
        if (l != r)
            return l < r;
        ++i;
        ++j;
    }
    if ((i < left.size()) != (j < right.size()))
        return i >= left.size();
    return left < right;
}

bool ListFolderAlbums(const std::vector<std::string>& folders, int waitTime, ProjectListing& listing,
                      std::vector<std::string>& warnings, std::string* error)
{
    auto fail = [error](const std::string& text) {
        if (error)
            *error = text;
        return false;
    };
    if (folders.size() > static_cast<std::size_t>(MAX_ALBUMS))
        return fail(Format("%zu folders given; a project holds at most %d albums", folders.size(), MAX_ALBUMS));
    for (const std::string& folder : folders) {
        std::error_code ec;
        if (!fs::is_directory(folder, ec))
            return fail(folder + ": not a folder");
        std::vector<std::string> names;
        fs::directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec);
        if (ec)
            return fail(folder + ": the folder cannot be read (" + ec.message() + ")");
        for (; it != fs::directory_iterator(); it.increment(ec)) {
            if (ec)
                return fail(folder + ": the folder cannot be read (" + ec.message() + ")");
            const std::string name = it->path().filename().string();
            std::error_code typeError;
            if (name.empty() || name[0] == '.' || !it->is_regular_file(typeError) || !IsProjectPictureName(name))
                continue;
            names.push_back(name);
        }
        std::sort(names.begin(), names.end(), NaturalLess);

        ListedAlbum& album = listing.albums.emplace_back();
        fs::path folderPath = fs::path(folder);
        if (!folderPath.has_filename())
            folderPath = folderPath.parent_path(); // "photos/" names the album "photos"
        std::string albumName = fs::absolute(folderPath, ec).filename().string();
        album.name = CutUtf8(albumName.empty() ? folder : albumName);
        album.waitTime = waitTime;
        if (names.empty())
            warnings.push_back(folder + ": no pictures in this folder; its album is empty");
        const fs::path base(folder);
        for (std::size_t n = 0; n < names.size(); ++n) {
            if (n < static_cast<std::size_t>(MAX_PICTURES_PER_ALBUM))
                album.pictures.push_back({fs::absolute(base / names[n], ec).string(), 0});
        }
        if (names.size() > static_cast<std::size_t>(MAX_PICTURES_PER_ALBUM)) {
            std::string left;
            for (std::size_t n = MAX_PICTURES_PER_ALBUM; n < names.size(); ++n)
                left += (left.empty() ? "" : ", ") + names[n];
            warnings.push_back(
                Format("%s: an album holds at most %d pictures; left out: ", folder.c_str(), MAX_PICTURES_PER_ALBUM) +
                left);
        }
    }
    return true;
}

} // namespace lumivox
