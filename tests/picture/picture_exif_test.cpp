// SPDX-License-Identifier: GPL-2.0-or-later
// The orientation a camera writes into a JPEG's EXIF block, and the turn that stands each
// of the eight orientations upright; damaged EXIF blocks give "upright", never a crash;
// the command line turns the photos of a folder as the album editor does.

#include "picture_decode_helpers.h"

#include "picture/ExifOrientation.h"
#include "picture/PicResizer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <unistd.h>

namespace lumivox::test {
namespace {

// The upright scene: a red band along the top, a green block at the lower left, grey
// elsewhere, so that a picture turned or mirrored the wrong way shows it.
constexpr int kWidth = 64;
constexpr int kHeight = 48;

void Scene(int x, int y, std::uint8_t* rgb)
{
    if (y < kHeight / 4) {
        rgb[0] = 230, rgb[1] = 20, rgb[2] = 20;
    } else if (x < kWidth / 4) {
        rgb[0] = 20, rgb[1] = 210, rgb[2] = 20;
    } else {
        rgb[0] = rgb[1] = rgb[2] = 120;
    }
}

// Where stored pixel (sx, sy) of a sw x sh stored picture appears when shown as the
// orientation says (TIFF 6.0 tag 274).
void Displayed(int orientation, int sx, int sy, int sw, int sh, int& dx, int& dy)
{
    switch (orientation) {
    case 2:
        dx = sw - 1 - sx, dy = sy;
        break;
    case 3:
        dx = sw - 1 - sx, dy = sh - 1 - sy;
        break;
    case 4:
        dx = sx, dy = sh - 1 - sy;
        break;
    case 5:
        dx = sy, dy = sx;
        break;
    case 6:
        dx = sh - 1 - sy, dy = sx;
        break;
    case 7:
        dx = sh - 1 - sy, dy = sw - 1 - sx;
        break;
    case 8:
        dx = sy, dy = sw - 1 - sx;
        break;
    default:
        dx = sx, dy = sy;
        break;
    }
}

// An APP1 EXIF block holding only IFD0 with the Orientation tag, in either byte order.
Bytes ExifBlock(int orientation, bool bigEndian)
{
    Bytes tiff;
    auto put16 = [&](unsigned v) {
        if (bigEndian) {
            tiff.push_back(static_cast<std::uint8_t>(v >> 8));
            tiff.push_back(static_cast<std::uint8_t>(v));
        } else {
            tiff.push_back(static_cast<std::uint8_t>(v));
            tiff.push_back(static_cast<std::uint8_t>(v >> 8));
        }
    };
    auto put32 = [&](std::uint32_t v) {
        if (bigEndian) {
            put16(v >> 16), put16(v & 0xFFFF);
        } else {
            put16(v & 0xFFFF), put16(v >> 16);
        }
    };
    tiff.push_back(bigEndian ? 'M' : 'I');
    tiff.push_back(bigEndian ? 'M' : 'I');
    put16(42);
    put32(8); // IFD0 follows the header
    put16(2); // two entries
    put16(0x010F); // Make, ASCII, 4 bytes in place
    put16(2);
    put32(4);
    tiff.insert(tiff.end(), {'C', 'a', 'm', 0});
    put16(0x0112); // Orientation, SHORT, 1 value
    put16(3);
    put32(1);
    put16(static_cast<unsigned>(orientation));
    put16(0);
    put32(0); // no next IFD
    const std::uint8_t head[] = {0xFF, 0xE1, 0, 0, 'E', 'x', 'i', 'f', 0, 0};
    Bytes block(sizeof head + tiff.size());
    std::copy(std::begin(head), std::end(head), block.begin());
    std::copy(tiff.begin(), tiff.end(), block.begin() + sizeof head);
    const std::size_t length = block.size() - 2;
    block[2] = static_cast<std::uint8_t>(length >> 8);
    block[3] = static_cast<std::uint8_t>(length);
    return block;
}

Bytes WithBlock(const Bytes& jpeg, const Bytes& block)
{
    Bytes out(jpeg.begin(), jpeg.begin() + 2); // SOI
    out.insert(out.end(), block.begin(), block.end());
    out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
    return out;
}

bool IsRed(const PicBitmap& b, int x, int y)
{
    const std::uint8_t* p = b.Row(y) + 4 * x; // blue, green, red
    return p[2] > 160 && p[1] < 90 && p[0] < 90;
}
bool IsGreen(const PicBitmap& b, int x, int y)
{
    const std::uint8_t* p = b.Row(y) + 4 * x;
    return p[1] > 160 && p[2] < 90 && p[0] < 90;
}

TEST(ExifOrientation, EachOfTheEightOrientationsStandsUprightAfterItsTurn)
{
    for (int orientation = 1; orientation <= 8; ++orientation) {
        for (bool bigEndian : {false, true}) {
            SCOPED_TRACE(::testing::Message() << "orientation " << orientation << (bigEndian ? " MM" : " II"));
            const bool exchanged = orientation >= 5;
            const int sw = exchanged ? kHeight : kWidth;
            const int sh = exchanged ? kWidth : kHeight;
            const Bytes stored = MakeJpeg(sw, sh, 3, [&](int x, int y, std::uint8_t* out) {
                int dx = 0, dy = 0;
                Displayed(orientation, x, y, sw, sh, dx, dy);
                Scene(dx, dy, out);
            });
            const Bytes file = WithBlock(stored, ExifBlock(orientation, bigEndian));
            ASSERT_EQ(ReadJpegOrientation(file.data(), file.size()), orientation);

            PicReader reader;
            PicBitmap decoded;
            reader.DecodeMemory(file.data(), file.size(), decoded);
            PicBitmap upright;
            const int turn = RotationForOrientation(orientation);
            if (turn != 0)
                RotateBitmap(decoded, turn, upright);
            else
                upright.CopyFrom(decoded);
            ASSERT_EQ(upright.Width(), kWidth);
            ASSERT_EQ(upright.Height(), kHeight);
            EXPECT_TRUE(IsRed(upright, kWidth / 2, 2)) << "the red band is not at the top";
            EXPECT_FALSE(IsRed(upright, kWidth / 2, kHeight - 3)) << "red at the bottom";
            // Turns cannot undo a mirror: the mirrored orientations keep left and right
            // exchanged.
            const bool mirrored = orientation == 2 || orientation == 4 || orientation == 5 || orientation == 7;
            EXPECT_EQ(IsGreen(upright, 3, kHeight - 4), !mirrored) << "green block at the lower left";
            EXPECT_EQ(IsGreen(upright, kWidth - 4, kHeight - 4), mirrored) << "green block at the lower right";
        }
    }
}

TEST(ExifOrientation, DamagedOrMissingBlocksReadAsUpright)
{
    const Bytes jpeg = MakeJpeg(16, 16, 3, [](int, int, std::uint8_t* out) { out[0] = out[1] = out[2] = 90; });
    const Bytes good = ExifBlock(6, false);
    auto with = [&](Bytes block) { return WithBlock(jpeg, block); };
    const Bytes whole = with(good);
    auto patched = [&](std::size_t offset, std::uint8_t value) {
        Bytes block = good;
        block.at(offset) = value;
        return with(block);
    };
    // Offsets inside the block: 0 marker, 2 length, 4 "Exif\0\0", 10 TIFF header,
    // 14 IFD0 offset, 18 entry count, 20 first entry, 32 Orientation entry (value at 40).
    const struct {
        const char* name;
        Bytes file;
    } cases[] = {
        {"no EXIF block", jpeg},
        {"not a JPEG", Bytes{'G', 'I', 'F', '8', '9', 'a', 0, 0}},
        {"empty", Bytes{}},
        {"orientation 0", patched(40, 0)},
        {"orientation 9", patched(40, 9)},
        {"orientation as LONG", patched(34, 4)},
        {"IFD0 past the end", patched(17, 0x7F)},
        {"no entries", patched(18, 0)},
        {"the tag past the end of the block", patched(33, 0x7F)},
        {"byte order unknown", patched(10, 'X')},
        {"TIFF magic wrong", patched(12, 43)},
        {"signature wrong", patched(6, 'X')},
        {"segment longer than the file", patched(2, 0xFF)},
        {"segment length 1", patched(3, 1)},
        {"cut inside the block", Bytes(whole.begin(), whole.begin() + 30)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ReadJpegOrientation(c.file.data(), c.file.size()), kOrientationUpright);
    }
    EXPECT_EQ(ReadJpegOrientation(whole.data(), whole.size()), 6);
}

std::string ReadAll(const std::string& path)
{
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

// lumivox new and make FOLDER give a camera's portrait the turn its EXIF block asks for,
// as the album editor does when it adds the photo, unless AutoOrient=0; make of the folder
// then makes the disc of the project new writes.
TEST(ExifOrientation, CommandLineTurnsFolderPhotosAsTheEditorDoes)
{
    const std::string cli = std::string(LUMIVOX_BIN_DIR) + "/lumivox-cli";
    char pattern[] = "/tmp/lumivox_exif_cli_XXXXXX";
    if (!std::filesystem::exists(cli) || !::mkdtemp(pattern))
        GTEST_SKIP() << "lumivox-cli is not built";
    const std::string folder = pattern;
    std::filesystem::create_directories(folder + "/photos");
    const Bytes photo = WithBlock(MakeJpeg(kWidth, kHeight, 3, Scene, 90), ExifBlock(6, false));
    std::ofstream(folder + "/photos/portrait.jpg", std::ios::binary)
        .write(reinterpret_cast<const char*>(photo.data()), static_cast<std::streamsize>(photo.size()));
    std::vector<std::string> images;
    for (const char* autoOrient : {"1", "0"}) {
        SCOPED_TRACE(std::string("AutoOrient=") + autoOrient);
        const std::string config = folder + "/config" + autoOrient, project = config + ".lvx";
        std::filesystem::create_directories(config);
        std::ofstream(config + "/config.ini") << "[GENERAL]\nAutoOrient=" << autoOrient << "\n";
        const std::string make = " --label SAME --slideshow-track never --quiet";
        for (const std::string& args : {"new " + project + " " + folder + "/photos",
                                        "make " + folder + "/photos -o " + config + "-folder.cue" + make,
                                        "make " + project + " -o " + config + "-project.cue" + make}) {
            const std::string command =
                "LUMIVOX_CONFIG_DIR=" + config + " QT_QPA_PLATFORM=offscreen " + cli + " " + args + " >/dev/null 2>&1";
            EXPECT_EQ(std::system(command.c_str()), 0) << command;
        }
        EXPECT_EQ(ReadAll(project).find("Rotate_01=90") != std::string::npos, autoOrient[0] == '1') << ReadAll(project);
        images.push_back(ReadAll(config + "-folder.bin"));
        EXPECT_FALSE(images.back().empty());
        EXPECT_TRUE(images.back() == ReadAll(config + "-project.bin")) << "make FOLDER and make of its project differ";
    }
    EXPECT_FALSE(images[0] == images[1]) << "the turn did not reach the disc";
    std::filesystem::remove_all(folder);
}

} // namespace
} // namespace lumivox::test
