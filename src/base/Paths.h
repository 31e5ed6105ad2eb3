// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Where the program finds its files. Folders are always returned with a trailing "/",
// so that file names are formed by putting a folder in front of a fixed name.

#include <string>

namespace lumivox {

// The running executable (/proc/self/exe), or empty when it cannot be read.
std::string ExecutablePath();

// The program folder: the folder holding the program's data files (templates, the
// companion stills, the MPEG track files, help). In order:
//   1. the environment variable LUMIVOX_PROGRAM_DIR when set and not empty;
//   2. the executable's folder when it holds data files (the build tree's bin/);
//   3. <executable folder>/../share/lumivox/ when it exists (an installed program);
//   4. the executable's folder.
std::string ProgramFolder();

// The folder of "config.ini": $LUMIVOX_CONFIG_DIR when set (tests and portable use),
// else $XDG_CONFIG_HOME/lumivox/, else ~/.config/lumivox/.
std::string ConfigFolder();
std::string ConfigFilePath();

// The default temporary (work) folder: $XDG_CACHE_HOME/lumivox/Temp/, else
// ~/.cache/lumivox/Temp/. Not created here; see CreateFolder.
std::string DefaultTempFolder();

// Creates folder with every missing parent; true when it exists afterwards.
bool CreateFolder(const std::string& folder);

// folder with exactly one trailing "/" added when it lacks one (empty stays empty).
std::string WithTrailingSlash(std::string folder);

} // namespace lumivox
