// SPDX-License-Identifier: GPL-2.0-or-later
// Fuzzes menu templates: the bytes become a template file, which is parsed and then drawn
// as a menu page of a small project. The template's pictures are the installed classic
// template's (so frames and buttons really draw) unless the file names others; absurd
// sizes, positions and counts must be refused or drawn harmlessly, never crash.

#include "picture/FrameRenderer.h"
#include "picture/MenuTemplate.h"
#include "picture/PicBitmap.h"
#include "picture/QtGuiHost.h"

#include <QtGui/QImage>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

using namespace lumivox;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const bool guiReady = EnsureGuiApplication(GuiPlatform::Offscreen);
    if (!guiReady)
        return 0;
    // Templates find their pictures beside themselves, so the file is written into a
    // folder that holds a copy of the classic template's picture folder.
    static const std::string folder = [] {
        const std::string dir = "/tmp/lumivox-fuzz-template-" + std::to_string(::getpid()) + "/";
        std::filesystem::create_directories(dir);
        std::error_code ignored;
        std::filesystem::copy(LUMIVOX_SOURCE_DIR "/data/template/classic", dir + "classic",
                              std::filesystem::copy_options::recursive | std::filesystem::copy_options::skip_existing,
                              ignored);
        return dir;
    }();
    const std::string path = folder + "fuzz.ini";
    if (FILE* file = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data, 1, size, file);
        std::fclose(file);
    } else {
        return 0;
    }

    MenuTemplate menuTemplate;
    std::string error;
    if (!LoadMenuTemplate(path, menuTemplate, &error))
        return 0;

    static PicBitmap thumbnail = [] {
        PicBitmap bitmap;
        bitmap.Create(104, 78, 32, false);
        return bitmap;
    }();
    std::vector<MenuAlbum> albums(7);
    for (std::size_t i = 0; i < albums.size(); ++i) {
        albums[i].name = "Album " + std::to_string(i + 1) + " with a rather long title for the frame";
        albums[i].hasPictures = i != 2;
        albums[i].thumbnail = i != 2 ? &thumbnail : nullptr;
    }
    const int perPage = menuTemplate.itemsCount > 0 ? menuTemplate.itemsCount : 1;
    PicBitmap frame;
    for (int first = 0; first < static_cast<int>(albums.size()) && first < 3 * perPage; first += perPage)
        RenderMenuFrame(menuTemplate, "", albums, first, TvNorm::Ntsc, frame, &error);
    (void)MakeTemplatePreview(menuTemplate);
    return 0;
}
