// SPDX-License-Identifier: GPL-2.0-or-later
// The bundled sample project made with lumivox-cli make, then burned with lumivox-cli burn to
// the emulated recorder in both writing modes: the disc reads back byte for byte as the image
// and passes the independent reader of the end-to-end tests (raw sectors, pycdlib, ffprobe).

#include "recorder_fixtures.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <sys/wait.h>

using namespace lumivox;
using namespace lumivox::rectest;
namespace fs = std::filesystem;

namespace {

struct ShellRun {
    int status = -1;
    std::string output;
};

ShellRun Shell(const std::string& command)
{
    ShellRun run;
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (!pipe)
        return run;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        run.output.append(buffer, n);
    const int status = ::pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

std::string Quote(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// The bundled sample project, its picture paths pointing into this checkout.
void WriteSampleProject(const std::string& path)
{
    const std::string source = LUMIVOX_SOURCE_DIR;
    std::ifstream in(source + "/samples/sample.lvx.in");
    std::stringstream text;
    text << in.rdbuf();
    std::string project = text.str();
    for (std::size_t at; (at = project.find("@SAMPLES@")) != std::string::npos;)
        project.replace(at, 9, source + "/samples");
    std::ofstream(path) << project;
}

} // namespace

TEST(RecorderMadeDisc, SampleProjectBurnsAsItsImageInBothModes)
{
    const std::string cli = std::string(LUMIVOX_BIN_DIR) + "/lumivox-cli";
    if (!fs::exists(cli))
        GTEST_SKIP() << "lumivox-cli is not built";
    if (Shell("/usr/bin/python3 -c 'import pycdlib, PIL'").status != 0 || Shell("ffprobe -version").status != 0)
        GTEST_SKIP() << "the independent reader needs /usr/bin/python3 with pycdlib and PIL, and ffprobe";
    TempFolder folder;
    WriteSampleProject(folder.Slash() + "sample.lvx");
    const std::string cue = folder.Slash() + "made.cue";
    ShellRun made = Shell("QT_QPA_PLATFORM=offscreen " + Quote(cli) + " make " + Quote(folder.Slash() + "sample.lvx") +
                          " -o " + Quote(cue) + " --ntsc --label LUMIVOX_SAMPLE --quiet");
    ASSERT_EQ(made.status, 0) << made.output;
    const Bytes image = ReadFile(folder.Slash() + "made.bin");
    ASSERT_FALSE(image.empty());

    for (const char* driver : {"mmc", "raw"}) {
        SCOPED_TRACE(driver);
        TempFolder drive;
        const ShellRun burned = Shell(Quote(cli) + " burn " + Quote(cue) + " --device " + Quote(Emulated(drive)) +
                                      " --driver " + driver + " --no-eject");
        ASSERT_EQ(burned.status, 0) << burned.output;
        EXPECT_EQ(FirstDifference(ReadFile(drive.Path() / "disc.bin"), image), "equal");
        const ShellRun checked =
            Shell("/usr/bin/python3 " + Quote(std::string(LUMIVOX_SOURCE_DIR) + "/tests/e2e/vcd_disc_check.py") + " " +
                  Quote((drive.Path() / "disc.cue").string()) +
                  " --albums 3,3,4 --per-page 6 --norm ntsc --label LUMIVOX_SAMPLE --chapters 0,21,36 --work " +
                  Quote(drive.Slash() + "check"));
        EXPECT_EQ(checked.status, 0) << checked.output;
        EXPECT_NE(checked.output.find("image matches the project"), std::string::npos) << checked.output;
    }
}

// make --burn writes the disc while it is made; with -o as well, the same sectors go to the
// image file, and the disc reads back as that image. A drive that fails a write ends the
// run with the drive's sense on one line and status 1; a written disc is refused before
// anything is made.
TEST(RecorderMadeDisc, MakeBurnsWhileItMakesTheImage)
{
    const std::string cli = std::string(LUMIVOX_BIN_DIR) + "/lumivox-cli";
    if (!fs::exists(cli))
        GTEST_SKIP() << "lumivox-cli is not built";
    TempFolder folder;
    WriteSampleProject(folder.Slash() + "sample.lvx");
    const std::string make = "QT_QPA_PLATFORM=offscreen " + Quote(cli) + " make " +
                             Quote(folder.Slash() + "sample.lvx") + " --temp " + Quote(folder.Slash() + "temp") +
                             " --quiet ";
    for (const char* driver : {"mmc", "raw"}) {
        SCOPED_TRACE(driver);
        const std::string drive = folder.Slash() + "drive-" + driver;
        const std::string image = folder.Slash() + "image-" + driver;
        const ShellRun run = Shell(make + "--burn " + Quote("emulated:" + drive) + " --driver " + driver + " -o " +
                                   Quote(image + ".cue"));
        ASSERT_EQ(run.status, 0) << run.output;
        EXPECT_NE(run.output.find("Congratulations!"), std::string::npos) << run.output;
        const Bytes disc = ReadFile(drive + "/disc.bin");
        ASSERT_FALSE(disc.empty());
        EXPECT_TRUE(disc == ReadFile(image + ".bin")) << driver << ": the disc does not read back as the image";
        // The disc is written now: the next make is refused before it starts.
        const ShellRun again = Shell(make + "--burn " + Quote("emulated:" + drive));
        EXPECT_EQ(again.status, 1) << again.output;
        EXPECT_EQ(again.output.find("Slides"), std::string::npos) << again.output;
    }
    const std::string failing = "emulated:" + folder.Slash() + "drive-fail?fail-write=1000";
    const ShellRun failed = Shell(make + "--burn " + Quote(failing) + " -o " + Quote(folder.Slash() + "f.cue"));
    EXPECT_EQ(failed.status, 1) << failed.output;
    EXPECT_NE(failed.output.find("03/0C/00"), std::string::npos) << failed.output;
    EXPECT_FALSE(fs::exists(folder.Slash() + "f.bin")) << "a failed burn leaves no image";
}
