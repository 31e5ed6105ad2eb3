// SPDX-License-Identifier: GPL-2.0-or-later
#include "base/Paths.h"

#include <cstdlib>
#include <filesystem>
#include <pwd.h>
#include <unistd.h>

// The build gives the installation's own prefix; this is the packages' one.
#ifndef LUMIVOX_INSTALLED_DATA_DIR
#define LUMIVOX_INSTALLED_DATA_DIR "/usr/share/lumivox/"
#endif
#ifndef LUMIVOX_INSTALLED_HELPER_DIR
#define LUMIVOX_INSTALLED_HELPER_DIR "/usr/lib/lumivox/"
#endif

namespace lumivox {

namespace fs = std::filesystem;

namespace {

std::string Environment(const char* name)
{
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

std::string HomeFolder()
{
    std::string home = Environment("HOME");
    if (home.empty()) {
        if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir)
            home = entry->pw_dir;
    }
    return home.empty() ? std::string("/tmp") : home;
}

// A folder under an XDG base folder: $variable/sub, else ~/fallback/sub. A relative
// XDG value is invalid by the XDG rules and ignored.
std::string XdgFolder(const char* variable, const char* fallback, const char* sub)
{
    std::string base = Environment(variable);
    if (base.empty() || base.front() != '/')
        base = WithTrailingSlash(HomeFolder()) + fallback;
    return WithTrailingSlash(WithTrailingSlash(base) + sub);
}

bool HoldsProgramData(const fs::path& folder)
{
    std::error_code ec;
    for (const char* name : {"template", "temp_x.ntsc", "avseq01.ntsc", "help"})
        if (fs::exists(folder / name, ec))
            return true;
    return false;
}

} // namespace

std::string WithTrailingSlash(std::string folder)
{
    if (!folder.empty() && folder.back() != '/')
        folder += '/';
    return folder;
}

std::string ExecutablePath()
{
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : exe.string();
}

std::string InstalledDataFolder()
{
    return WithTrailingSlash(LUMIVOX_INSTALLED_DATA_DIR);
}

std::string InstalledHelperFolder()
{
    return WithTrailingSlash(LUMIVOX_INSTALLED_HELPER_DIR);
}

std::string ProgramFolder()
{
    const std::string overridden = Environment("LUMIVOX_PROGRAM_DIR");
    if (!overridden.empty())
        return WithTrailingSlash(overridden);
    return ProgramFolderOf(ExecutablePath());
}

std::string ProgramFolderOf(const std::string& executable)
{
    const fs::path folder = fs::path(executable).parent_path();
    if (executable.empty() || folder.empty() || !folder.is_absolute())
        return InstalledDataFolder();
    if (HoldsProgramData(folder))
        return WithTrailingSlash(folder.string());
    std::error_code ec;
    const fs::path shared = (folder / ".." / "share" / "lumivox").lexically_normal();
    if (fs::is_directory(shared, ec))
        return WithTrailingSlash(shared.string());
    return WithTrailingSlash(folder.string());
}

std::string ConfigFolder()
{
    const std::string overridden = Environment("LUMIVOX_CONFIG_DIR");
    if (!overridden.empty())
        return WithTrailingSlash(overridden);
    return XdgFolder("XDG_CONFIG_HOME", ".config", "lumivox");
}

std::string ConfigFilePath()
{
    return ConfigFolder() + "config.ini";
}

std::string DefaultTempFolder()
{
    return XdgFolder("XDG_CACHE_HOME", ".cache", "lumivox/Temp");
}

bool CreateFolder(const std::string& folder)
{
    std::error_code ec;
    fs::create_directories(folder, ec);
    return fs::is_directory(folder, ec);
}

} // namespace lumivox
