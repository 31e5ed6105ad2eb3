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
//   2. ProgramFolderOf(ExecutablePath()).
std::string ProgramFolder();

// The program folder of the executable at path:
//   1. the executable's folder when it holds data files (the build tree's bin/);
//   2. <executable folder>/../share/lumivox/ when it exists (an installed program);
//   3. the executable's folder.
// Without an executable (empty path: /proc is not there to tell), InstalledDataFolder():
// never the current folder, where anybody may have put files the program would then
// take for its own -- and run, for its helper program.
std::string ProgramFolderOf(const std::string& executable);

// Where the installation puts the program's data: <install prefix>/share/lumivox/.
std::string InstalledDataFolder();
// Where the installation puts its helper programs: <install prefix>/lib/lumivox/ (the
// place to look for them when the running executable is not known).
std::string InstalledHelperFolder();

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
