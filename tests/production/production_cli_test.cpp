// SPDX-License-Identifier: GPL-2.0-or-later
// lumivox-cli make, run as the user runs it: the image and the summary, one-line errors
// with their exit statuses, and Ctrl-C leaving no image behind.

#include "production/production_helpers.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <locale.h>
#include <poll.h>
#include <regex>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace lumivox::test {
namespace {

namespace fs = std::filesystem;

// lumivox-cli make with its standard output and error on pipes.
class MakeProcess {
public:
    explicit MakeProcess(const std::vector<std::string>& args)
    {
        int out[2], err[2];
        if (::pipe(out) != 0 || ::pipe(err) != 0)
            throw std::runtime_error("pipe");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        posix_spawn_file_actions_addclose(&actions, err[0]);
        std::vector<std::string> all = {std::string(LUMIVOX_BIN_DIR) + "/lumivox-cli", "make"};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& arg : all)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0)
            throw std::runtime_error("cannot start " + all[0]);
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        ::close(err[1]);
        out_ = out[0];
        err_ = err[0];
    }
    ~MakeProcess()
    {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            Wait();
        }
    }

    // Reads standard error until a line starts with prefix; false at the end of output.
    bool WaitForErrorLine(const std::string& prefix)
    {
        for (;;) {
            std::size_t start = 0, end;
            while ((end = error.find('\n', start)) != std::string::npos) {
                if (error.compare(start, prefix.size(), prefix) == 0)
                    return true;
                start = end + 1;
            }
            if (!Pump(-1))
                return false;
        }
    }
    void Signal(int signal) { ::kill(pid_, signal); }

    // Reads everything and returns the exit status (128 + signal when killed).
    int Wait()
    {
        while (Pump(-1)) { }
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) { }
        pid_ = -1;
        ::close(out_);
        ::close(err_);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    std::string output, error;

private:
    // Reads what either pipe has; false once both have ended.
    bool Pump(int timeout)
    {
        pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
        const int open = (outOpen_ ? 1 : 0) + (errOpen_ ? 1 : 0);
        if (open == 0)
            return false;
        if (!outOpen_)
            fds[0].fd = -1;
        if (!errOpen_)
            fds[1].fd = -1;
        if (::poll(fds, 2, timeout) < 0)
            return errno == EINTR;
        char buffer[4096];
        for (int i = 0; i < 2; ++i) {
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0)
                (i == 0 ? output : error).append(buffer, static_cast<std::size_t>(n));
            else
                (i == 0 ? outOpen_ : errOpen_) = false;
        }
        return true;
    }

    pid_t pid_ = -1;
    int out_ = -1, err_ = -1;
    bool outOpen_ = true, errOpen_ = true;
};

class MakeCommandTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Settings and the default temporary folder of the scratch folder, not the user's.
        ::setenv("LUMIVOX_CONFIG_DIR", scratch.Path("config").c_str(), 1);
        ::setenv("XDG_CACHE_HOME", scratch.Path("cache").c_str(), 1);
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }

    // A project file of albums with the given picture counts.
    std::string WriteProject(const std::string& name, const std::vector<int>& counts)
    {
        std::string text =
            "[GENERAL]\nDescription=Lumivox Project\nVersion=1.0\nAlbum_Count=" + std::to_string(counts.size()) + "\n";
        for (std::size_t a = 0; a < counts.size(); ++a) {
            text += "[Album_0" + std::to_string(a + 1) + "]\nName=Album " + std::to_string(a + 1) +
                    "\ninterval=10\nImage_Count=" + std::to_string(counts[a]) + "\n";
            for (int p = 0; p < counts[a]; ++p) {
                const std::string picture = scratch.Path("a" + std::to_string(a) + "p" + std::to_string(p) + ".bmp");
                WriteTestBmp(picture, 40 + 4 * p, 30, static_cast<unsigned>(a + p));
                text += "Image_0" + std::to_string(p + 1) + "=" + picture + "\n";
            }
        }
        const std::string path = scratch.Path(name);
        WriteText(path, text);
        return path;
    }

    Scratch scratch;
};

TEST_F(MakeCommandTest, MakesTheImageAndSummarisesTheRun)
{
    const std::string project = WriteProject("my trip.lvx", {2, 1});
    const std::string temp = scratch.Path("work");
    MakeProcess make({project, "-o", scratch.Path("disc.cue"), "--temp", temp, "--jobs", "2"});
    ASSERT_EQ(make.Wait(), 0) << make.error;
    EXPECT_EQ(Join(FilesMatching(scratch.Folder(), "disc.*")), "disc.bin disc.cue ");
    for (const char* text :
         {"2 albums, 3 pictures, 1 menu page", " sectors, ", "minutes of disc used", "time taken:", "(2 workers)"})
        EXPECT_NE(make.output.find(text), std::string::npos) << text << " missing from:\n" << make.output;
    // Not a terminal: plain progress lines.
    for (const char* text : {"Menu pages: 100.0% (1 of 1)\n", "Slides: 100.0% (3 of 3)\n", "Writing image: 100.0%"})
        EXPECT_NE(make.error.find(text), std::string::npos) << text << " missing from:\n" << make.error;
    EXPECT_EQ(make.error.find("\033"), std::string::npos);
    // The run's own folder is gone; the label comes from the project's name.
    EXPECT_EQ(Join(FilesMatching(temp, ".*")), "");
    const std::vector<std::uint8_t> image = ReadBytes(scratch.Path("disc.bin"));
    ASSERT_GT(image.size(), 17u * 2352);
    const std::string volume(reinterpret_cast<const char*>(image.data()) + 16 * 2352 + 24 + 40, 32);
    EXPECT_EQ(volume, "MY_TRIP" + std::string(25, ' '));
    const std::string cue = ReadText(scratch.Path("disc.cue"));
    EXPECT_NE(cue.find("FILE \"disc.bin\" BINARY"), std::string::npos) << cue;
}

TEST_F(MakeCommandTest, ErrorsAreOneLineWithTheirExitStatus)
{
    const std::string project = WriteProject("p.lvx", {1});
    const std::string noEntries = scratch.Path("empty.ini");
    WriteText(noEntries, "[General]\nNAME=Empty\nFolder_name=empty\nItems_count=0\n");
    const std::string out = scratch.Path("disc.cue");
    const std::string fifo = scratch.Path("music.fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const struct {
        std::vector<std::string> args;
        int status;
        std::string text;
    } cases[] = {
        {{project, "-o", out, "--music", fifo}, 1, "music.fifo: the music file is not a regular file"},
        {{project}, 2, "-o DISC.cue"},
        {{"-o", out}, 2, "no project file"},
        {{project, "-o", out, "--jobs", "0"}, 2, "'0' is not a number of workers"},
        {{project, "-o", out, "--frobnicate"}, 2, "unknown option '--frobnicate'"},
        {{scratch.Path("missing.lvx"), "-o", out}, 1, "missing.lvx"},
        {{project, "-o", out, "--template", noEntries}, 1, "empty.ini"},
        {{project, "-o", scratch.Path("no/such/folder/disc.cue")}, 1, "no/such/folder"},
        {{project, "-o", out, "--music", scratch.Path("gone.mp3")}, 1, "gone.mp3"},
        {{project, "-o", out, "--temp", scratch.Path("p.lvx") + "/sub"}, 1, "p.lvx/sub"},
    };
    for (const auto& c : cases) {
        std::string line;
        for (const std::string& arg : c.args)
            line += arg + " ";
        SCOPED_TRACE(line);
        MakeProcess make(c.args);
        EXPECT_EQ(make.Wait(), c.status) << make.error;
        EXPECT_EQ(make.error.rfind("lumivox-cli make: ", 0), 0u) << make.error;
        EXPECT_NE(make.error.find(c.text), std::string::npos) << make.error;
        EXPECT_EQ(std::count(make.error.begin(), make.error.end(), '\n'), 1) << make.error;
        EXPECT_FALSE(fs::exists(scratch.Path("disc.bin")));
    }
}

TEST_F(MakeCommandTest, InterruptCancelsAndLeavesNoImage)
{
    const std::string project = WriteProject("p.lvx", {6, 6});
    const std::string temp = scratch.Path("work");
    MakeProcess make({project, "-o", scratch.Path("disc.cue"), "--temp", temp, "--jobs", "1"});
    ASSERT_TRUE(make.WaitForErrorLine("Slides: ")) << make.error;
    make.Signal(SIGINT);
    EXPECT_EQ(make.Wait(), 130) << make.error;
    EXPECT_NE(make.error.find("cancelled; no image was made"), std::string::npos) << make.error;
    EXPECT_EQ(make.output, "");
    EXPECT_EQ(Join(FilesMatching(scratch.Folder(), "disc.*")), "");
    EXPECT_EQ(Join(FilesMatching(temp, ".*")), "");
}

TEST_F(MakeCommandTest, TwoRunsIntoOneImageOneIsRefusedTheOtherIntact)
{
    const std::string project = WriteProject("p.lvx", {6, 6});
    const std::string out = scratch.Path("DISC.cue");
    MakeProcess first({project, "-o", out, "--temp", scratch.Path("work"), "--jobs", "1"});
    ASSERT_TRUE(first.WaitForErrorLine("Slides: ")) << first.error;
    MakeProcess second({project, "-o", out, "--temp", scratch.Path("work"), "--jobs", "1"});
    EXPECT_EQ(second.Wait(), 1) << second.error;
    EXPECT_NE(second.error.find("DISC.cue is being written by another run"), std::string::npos) << second.error;
    ASSERT_EQ(first.Wait(), 0) << first.error;
    // The first run's image is whole: every sector the CUE sheet's run reported.
    const std::string cue = ReadText(out);
    EXPECT_NE(cue.find("FILE \"DISC.bin\" BINARY"), std::string::npos) << cue;
    const std::size_t sectors = ReadBytes(scratch.Path("DISC.bin")).size() / 2352;
    EXPECT_NE(first.output.find(std::to_string(sectors) + " sectors"), std::string::npos) << first.output;
    EXPECT_EQ(Join(FilesMatching(scratch.Folder(), "\\..*")), "");
}

TEST_F(MakeCommandTest, OutputsNeverReplaceInputsNorWriteThroughLinks)
{
    const std::string project = WriteProject("p.lvx", {1});
    WriteText(scratch.Path("victim"), "precious");
    // Links planted at both names the run writes.
    fs::create_symlink(scratch.Path("victim"), scratch.Path("linked.bin"));
    fs::create_symlink(scratch.Path("victim"), scratch.Path("linked.cue"));
    MakeProcess linked({project, "-o", scratch.Path("linked.cue"), "--temp", scratch.Path("work")});
    ASSERT_EQ(linked.Wait(), 0) << linked.error;
    EXPECT_EQ(ReadText(scratch.Path("victim")), "precious");
    EXPECT_FALSE(fs::is_symlink(scratch.Path("linked.bin")));
    EXPECT_GT(fs::file_size(scratch.Path("linked.bin")), 17u * 2352);

    // A picture of the project under the image's name; an output folder, not a file.
    const std::string picture = scratch.Path("a0p0.bmp");
    const auto pictureSize = fs::file_size(picture);
    const struct {
        std::string output;
        int status;
        std::string text;
    } cases[] = {
        {scratch.Path("pic.cue"), 1, "own input files"}, // a second link to the picture
        {scratch.Path("folder") + "/", 2, "names a folder"},
    };
    fs::create_hard_link(picture, scratch.Path("pic.cue"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.output);
        MakeProcess make({project, "-o", c.output});
        EXPECT_EQ(make.Wait(), c.status) << make.error;
        EXPECT_NE(make.error.find(c.text), std::string::npos) << make.error;
    }
    EXPECT_EQ(fs::file_size(picture), pictureSize);
    EXPECT_FALSE(fs::exists(scratch.Path("folder")));
}

// The disc design a project file keeps (template, menu background, music) makes the disc
// and its rendered frames as the same design given on the command line does; a file of it
// that is gone is named and left out, as the desktop program leaves it out.
TEST_F(MakeCommandTest, TheProjectsDesignIsTheDefaultAndOptionsReplaceIt)
{
    const std::string plain = WriteProject("plain.lvx", {2});
    const std::string background = scratch.Path("menu background.bmp"), music = scratch.Path("tone.wav");
    WriteTestBmp(background, 96, 64, 7);
    WriteTestWave(music, 1.0);
    auto withDesign = [&](const std::string& name, const std::string& t, const std::string& b, const std::string& m) {
        std::string text = ReadText(plain);
        text.insert(text.find('\n') + 1, "Template=" + t + "\nBackground=" + b + "\nMusic=" + m + "\n");
        WriteText(scratch.Path(name), text);
        return scratch.Path(name);
    };
    const std::string designed = withDesign("designed.lvx", "template/slate.ini", background, music);
    const std::string gone = withDesign("gone.lvx", scratch.Path("gone.ini"), scratch.Path("gone.bmp"),
                                        scratch.Path("gone.wav"));
    const struct {
        const char* name;
        std::string project;
        std::vector<std::string> options; // pairs; render takes all but --music
        long warnings;
    } cases[] = {
        {"the project's design", designed, {}, 0},
        {"the same design as options", plain, {"--template", "slate", "--background", background, "--music", music}, 0},
        {"options replacing it", designed, {"--template", "classic", "--background", "", "--music", ""}, 0},
        {"the default design", plain, {}, 0},
        {"a design whose files are gone", gone, {}, 3},
    };
    std::vector<std::vector<std::uint8_t>> images, menus;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string n = std::to_string(images.size());
        std::vector<std::string> make = {c.project, "-o", scratch.Path(n + ".cue"), "--label", "SAME", "--quiet",
                                         "--slideshow-track", "never", "--temp", scratch.Path("work")};
        std::string render = std::string(LUMIVOX_BIN_DIR) + "/lumivox-cli render '" + c.project + "' --out " +
                             scratch.Path("frames" + n);
        for (std::size_t o = 0; o < c.options.size(); o += 2) {
            make.insert(make.end(), {c.options[o], c.options[o + 1]});
            render += c.options[o] == "--music" ? "" : " " + c.options[o] + " '" + c.options[o + 1] + "'";
        }
        MakeProcess made(make);
        ASSERT_EQ(made.Wait(), 0) << made.error;
        EXPECT_EQ(std::count(made.error.begin(), made.error.end(), '\n'), c.warnings) << made.error;
        ASSERT_EQ(std::system((render + " >/dev/null 2>&1").c_str()), 0) << render;
        images.push_back(ReadBytes(scratch.Path(n + ".bin")));
        menus.push_back(ReadBytes(scratch.Path("frames" + n) + "/menu_01.png"));
        ASSERT_FALSE(menus.back().empty());
    }
    EXPECT_EQ(FirstDifference(images[0], images[1]), "");
    EXPECT_EQ(menus[0], menus[1]);
    EXPECT_NE(FirstDifference(images[0], images[3]), "") << "the design made no difference";
    EXPECT_NE(menus[0], menus[3]);
    for (std::size_t other : {2u, 4u}) {
        EXPECT_EQ(FirstDifference(images[3], images[other]), "") << cases[other].name;
        EXPECT_EQ(menus[3], menus[other]) << cases[other].name;
    }
}

// The CD label becomes the volume identifier (and INFO.VCD's album identifier) of
// d-characters, and the user is told when it was changed.
TEST_F(MakeCommandTest, TheLabelIsWrittenAsAVolumeIdentifierHoldsIt)
{
    const std::string project = WriteProject("summer trip.lvx", {1});
    const struct {
        std::string label;
        std::string written;
        std::string warning; // empty: none
    } cases[] = {
        {"MY_TRIP", "MY_TRIP", ""},
        {"my trip/2024: \x01\xC3\xA9t\xC3\xA9\xFF", "MY_TRIP_2024_ETE",
         "lumivox-cli make: the label \"my trip/2024: \\u0001\xC3\xA9t\xC3\xA9\xEF\xBF\xBD\" is written as \"MY_TRIP_2024_ETE\"\n"},
        {"  ", "SUMMER_TRIP", "lumivox-cli make: the label \"  \" is written as \"SUMMER_TRIP\"\n"},
        {std::string(40, 'x'), std::string(32, 'X'), "is written as \"" + std::string(32, 'X') + "\"\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        MakeProcess make({project, "-o", scratch.Path("disc.cue"), "--label", c.label, "--json", "--quiet",
                          "--slideshow-track", "never", "--temp", scratch.Path("work")});
        ASSERT_EQ(make.Wait(), 0) << make.error;
        if (c.warning.empty())
            EXPECT_EQ(make.error, "");
        else
            EXPECT_NE(make.error.find(c.warning), std::string::npos) << make.error;
        EXPECT_NE(make.output.find("\"label\": \"" + c.written + "\""), std::string::npos) << make.output;
        const std::vector<std::uint8_t> image = ReadBytes(scratch.Path("disc.bin"));
        ASSERT_GT(image.size(), 17u * 2352);
        const std::string volume(reinterpret_cast<const char*>(image.data()) + 16 * 2352 + 24 + 40, 32);
        EXPECT_EQ(volume, c.written + std::string(32 - c.written.size(), ' '));
    }
}

// Under a decimal-comma locale the JSON stays JSON, the summary reads the same and
// numbers given are read the same; under a Turkish one the disc's identifiers keep their
// capital I. Each locale is tried only
// where the system has it.
TEST_F(MakeCommandTest, OutputAndDiscDoNotDependOnTheLocale)
{
    const std::string project = WriteProject("pictures.lvx", {1});
    int tried = 0;
    for (const char* name : {"de_DE.UTF-8", "tr_TR.UTF-8"}) {
        const locale_t available = ::newlocale(LC_ALL_MASK, name, static_cast<locale_t>(nullptr));
        if (!available)
            continue;
        ::freelocale(available);
        ++tried;
        SCOPED_TRACE(name);
        ::setenv("LC_ALL", name, 1);
        MakeProcess json({project, "-o", scratch.Path("disc.cue"), "--json", "--quiet", "--temp", scratch.Path("work")});
        MakeProcess text({project, "-o", scratch.Path("text.cue"), "--quiet", "--temp", scratch.Path("work")});
        // A recorder's options are numbers of the "C" way too: this one is refused for its
        // empty tray, not for its speed.
        MakeProcess burn({project, "--burn", "emulated:" + scratch.Path("drive") + "?speed=1.5&disc=none", "--quiet"});
        ::unsetenv("LC_ALL");
        EXPECT_EQ(burn.Wait(), 1);
        EXPECT_NE(burn.error.find("Please insert a blank CD-R/RW disc"), std::string::npos) << burn.error;
        ASSERT_EQ(json.Wait(), 0) << json.error;
        ASSERT_EQ(text.Wait(), 0) << text.error;
        EXPECT_TRUE(std::regex_search(json.output, std::regex("\"minutes\": [0-9]+\\.[0-9]{2}, \"black_frames\""))) << json.output;
        EXPECT_TRUE(std::regex_search(json.output, std::regex("\"seconds\": [0-9]+\\.[0-9], "))) << json.output;
        EXPECT_TRUE(std::regex_search(text.output, std::regex(" [0-9]+\\.[0-9]{2} of 80 minutes of disc used \\([0-9]+\\.[0-9]%\\)")))
            << text.output;
        const std::vector<std::uint8_t> image = ReadBytes(scratch.Path("disc.bin"));
        ASSERT_GT(image.size(), 17u * 2352);
        const char* descriptor = reinterpret_cast<const char*>(image.data()) + 16 * 2352 + 24;
        EXPECT_EQ(std::string(descriptor + 40, 32), "PICTURES" + std::string(24, ' '));
        EXPECT_EQ(std::string(descriptor + 446, 18), "LV_VCD VERSION 1.0");
    }
    if (tried == 0)
        GTEST_SKIP() << "neither de_DE.UTF-8 nor tr_TR.UTF-8 is installed";
}

// make --burn DEVICE -o DISC.cue: the burn and the image each report their outcome. A
// burn failing its verification leaves a complete image, which is kept and named; a burn
// failing midway leaves none, and says so. The image (its slideshow track of 43 s among
// it) is larger than the burn's queue holds, so that the run cannot have laid out every
// sector before the drive's first write fails.
TEST_F(MakeCommandTest, BurnAndImageEachReportTheirOutcome)
{
    const std::string project = WriteProject("p.lvx", {4});
    const struct {
        const char* option;
        bool imageKept;
        const char* text;
    } cases[] = {
        {"corrupt=40", true, "though the burn failed"},
        {"fail-write=1", false, "no image was made"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.option);
        const std::string drive = scratch.Path(std::string("drive-") + c.option);
        const std::string image = scratch.Path(std::string("image-") + c.option);
        MakeProcess make({project, "--burn", "emulated:" + drive + "?" + c.option, "-o", image + ".cue", "--temp",
                          scratch.Path("work"), "--quiet"});
        EXPECT_EQ(make.Wait(), 1) << make.error;
        EXPECT_NE((make.output + make.error).find(c.text), std::string::npos) << make.output << make.error;
        EXPECT_EQ(fs::exists(image + ".bin"), c.imageKept);
        EXPECT_EQ(fs::exists(image + ".cue"), c.imageKept);
    }
}

} // namespace
} // namespace lumivox::test
