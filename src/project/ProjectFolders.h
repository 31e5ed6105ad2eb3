// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Albums made from folders of pictures, for users who have their photos sorted into one
// folder per occasion: each folder becomes an album named after it, holding the folder's
// pictures in natural name order ("IMG_2" before "IMG_10").

#include "project/AlbumTable.h"

#include <string>
#include <vector>

namespace lumivox {

// Whether a file name has the extension of a picture a project can hold (".jpg",
// ".jpeg", ".tif", ".tiff", ".bmp", ".eps", ".png", ".webp", ".heic", ".heif", ".hif",
// in any case).
bool IsProjectPictureName(const std::string& fileName);

// Compares names as a person reads them: runs of digits by their value, everything else
// without regard to ASCII case; ties are broken by the bytes themselves.
bool NaturalLess(const std::string& left, const std::string& right);

// Lists each folder as an album (named after the folder's last component, wait time
// waitTime), with its picture files (see IsProjectPictureName; hidden files and
// sub-folders are not looked into) in natural order. An album lists at most 99 pictures;
// the names of those left over go into warnings, as do folders without pictures (which
// still make an empty album, so album numbers follow the folders given). False with error
// naming the folder when one cannot be read, is not a folder, or when more than 99
// folders are given.
bool ListFolderAlbums(const std::vector<std::string>& folders, int waitTime, ProjectListing& listing,
                      std::vector<std::string>& warnings, std::string* error);

} // namespace lumivox
