// SPDX-License-Identifier: GPL-2.0-or-later
// Fuzzes the INI reader and the project loader: the bytes become a project file on
// disk, which is parsed, queried, changed, written back and loaded as a project.
// Pictures are not decoded (the picture decoders have their own fuzz target): every
// path "decodes" to a small bitmap unless it names "bad", so the loader's bookkeeping
// of albums, limits and skipped pictures is what is exercised.

#include "base/IniFile.h"
#include "picture/PLTextException.h"
#include "project/AlbumTable.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>

using namespace lumivox;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::string path = "/tmp/lumivox-fuzz-project-" + std::to_string(::getpid()) + ".lvx";
    const std::string text(reinterpret_cast<const char*>(data), size);

    IniFile ini;
    ini.Parse(text);
    (void)ini.GetString("GENERAL", "Description", "");
    (void)ini.GetInt("GENERAL", "Album_Count", 0);
    ini.SetString("Album_01", "Name", "fuzz");
    ini.DeleteKey("GENERAL", "Version");
    IniFile reparsed;
    reparsed.Parse(ini.ToString());
    if (reparsed.GetString("Album_01", "Name") != "fuzz")
        __builtin_trap(); // a written key must read back

    if (FILE* file = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data, 1, size, file);
        std::fclose(file);
    } else {
        return 0;
    }
    AlbumTable project;
    project.SetPictureDecoder([](const std::string& picture, PicBitmap& target) {
        if (picture.find("bad") != std::string::npos)
            throw PLTextException(PL_ERRUNKNOWN_FILE_TYPE, "Unknown file type.");
        target.Create(8, 6, 32, false);
    });
    const ProjectLoadResult result = project.LoadProject(path);
    if (project.AlbumCount() > MAX_ALBUMS)
        __builtin_trap();
    for (int album = 0; album < project.AlbumCount(); ++album)
        if (project.PictureCount(album) > MAX_PICTURES_PER_ALBUM || project.Album(album).name.size() > 259)
            __builtin_trap();
    if (result.Loaded())
        project.SaveProject(path);
    ::unlink(path.c_str());
    return 0;
}
