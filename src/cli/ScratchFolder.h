// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// A private temporary folder for a command's intermediate files (the music's WAVE file,
// a still before it is multiplexed), removed with everything in it when the command ends.

#include <stdlib.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

namespace lumivox::cli {

class ScratchFolder {
public:
    ScratchFolder() = default;
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    ~ScratchFolder()
    {
        if (!path_.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(path_, ignored);
        }
    }

    // Makes "lumivox-<purpose>-XXXXXX" in the system's temporary folder, readable and
    // writable by this user alone: what the command writes there by name nobody else can
    // replace. False with *error naming the folder and the reason when it cannot be made.
    bool Create(const std::string& purpose, std::string* error)
    {
        std::error_code code;
        std::filesystem::path base = std::filesystem::temp_directory_path(code);
        if (code)
            base = "/tmp";
        std::string pattern = (base / ("lumivox-" + purpose + "-XXXXXX")).string();
        if (!mkdtemp(pattern.data())) {
            *error = pattern + ": cannot create a temporary folder: " + std::strerror(errno);
            return false;
        }
        path_ = pattern;
        return true;
    }

    // The folder with a trailing "/".
    std::string Folder() const { return path_ + "/"; }

private:
    std::string path_;
};

} // namespace lumivox::cli
