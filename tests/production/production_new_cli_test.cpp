// SPDX-License-Identifier: GPL-2.0-or-later
// Projects from folders on the command line: lumivox-cli new writes the project the
// editor would, make takes the folders directly and makes the same disc, info --json
// tells the disc's size before it is made, and the command line's lazy loading makes
// the disc that the eager loading of the desktop program makes.

#include "production/production_helpers.h"

#include "picture/MenuTemplate.h"
#include "production/ProductionJob.h"
#include "project/AlbumTable.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <locale.h>
#include <regex>
#include <spawn.h>
#include <sstream>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace lumivox::test {
namespace {

namespace fs = std::filesystem;

struct CliRun {
    int status = -1;
    std::string output;
    std::string error;
};

class NewCommandTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Settings and the default temporary folder of the scratch folder, not the user's.
        ::setenv("LUMIVOX_CONFIG_DIR", scratch.Path("config").c_str(), 1);
        ::setenv("XDG_CACHE_HOME", scratch.Path("cache").c_str(), 1);
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        // Two folders of camera-like JPEGs (decoded in reduced mode for thumbnails and in
        // full for slides, so the two loadings would show any difference) and names that
        // sort differently by bytes and by number.
        const std::string samples = std::string(LUMIVOX_SOURCE_DIR) + "/samples/";
        beach = scratch.Path("Beach");
        snow = scratch.Path("snow days");
        fs::create_directories(beach);
        fs::create_directories(snow);
        fs::copy_file(samples + "sunset_coast_01.jpg", beach + "/IMG_10.jpg");
        fs::copy_file(samples + "sunset_coast_02.jpg", beach + "/IMG_9.JPG");
        fs::copy_file(samples + "winter_forest_04_portrait.jpg", snow + "/a.jpeg");
        WriteTestBmp(snow + "/b.bmp", 64, 48, 3);
    }

    // fileSizeLimit stands for a full disk: a write past it fails.
    CliRun Cli(const std::vector<std::string>& args, rlim_t fileSizeLimit = RLIM_INFINITY)
    {
        const std::string out = scratch.Path("stdout.txt");
        const std::string err = scratch.Path("stderr.txt");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        std::vector<std::string> all = {std::string(LUMIVOX_BIN_DIR) + "/lumivox-cli"};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& arg : all)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        CliRun run;
        pid_t pid = -1;
        struct rlimit old { };
        ::getrlimit(RLIMIT_FSIZE, &old);
        struct rlimit limited = old;
        limited.rlim_cur = std::min(fileSizeLimit, old.rlim_max);
        ::setrlimit(RLIMIT_FSIZE, &limited);
        const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
        ::setrlimit(RLIMIT_FSIZE, &old);
        posix_spawn_file_actions_destroy(&actions);
        if (spawned != 0) {
            ADD_FAILURE() << "cannot start " << all[0];
            return run;
        }
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) { }
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        run.output = ReadText(out);
        run.error = ReadText(err);
        return run;
    }

    // make with the options every comparison shares.
    CliRun Make(std::vector<std::string> inputs, const std::string& cue, const std::vector<std::string>& more = {})
    {
        inputs.insert(inputs.end(), {"-o", cue, "--label", "SAME", "--jobs", "2", "--temp", scratch.Path("work")});
        inputs.insert(inputs.end(), more.begin(), more.end());
        inputs.insert(inputs.begin(), "make");
        return Cli(inputs);
    }

    Scratch scratch;
    std::string beach;
    std::string snow;
};

TEST_F(NewCommandTest, WritesOneAlbumPerFolderInNaturalOrder)
{
    const std::string empty = scratch.Path("empty");
    fs::create_directories(empty);
    WriteText(beach + "/IMG_11.jpg", "a picture's name, not a picture");
    const std::string project = scratch.Path("trip.lvx");
    const CliRun run = Cli({"new", project, beach, snow + "/", empty, "--wait", "7"});
    ASSERT_EQ(run.status, 0) << run.error;
    EXPECT_NE(run.output.find("Project written: " + project), std::string::npos) << run.output;
    // Warnings name the folder without pictures and the file that is no picture.
    EXPECT_NE(run.error.find("warning: " + empty + ": no pictures"), std::string::npos) << run.error;
    EXPECT_NE(run.error.find("IMG_11.jpg"), std::string::npos) << run.error;
    EXPECT_NE(run.error.find("album 01 \"Beach\""), std::string::npos) << run.error;

    AlbumTable loaded;
    ASSERT_TRUE(loaded.LoadProject(project, PictureLoading::Lazy).Loaded());
    const struct {
        const char* name;
        std::vector<std::string> pictures;
    } expected[] = {
        {"Beach", {beach + "/IMG_9.JPG", beach + "/IMG_10.jpg"}},
        {"snow days", {snow + "/a.jpeg", snow + "/b.bmp"}},
        {"empty", {}},
    };
    ASSERT_EQ(loaded.AlbumCount(), 3);
    for (int a = 0; a < 3; ++a) {
        const auto& e = expected[a];
        EXPECT_EQ(loaded.Album(a).name, e.name);
        EXPECT_EQ(loaded.Album(a).waitTime, 7);
        std::vector<std::string> pictures;
        for (int p = 0; p < loaded.PictureCount(a); ++p)
            pictures.push_back(loaded.Picture(a, p).path);
        EXPECT_EQ(Join(pictures), Join(e.pictures)) << e.name;
    }
}

TEST_F(NewCommandTest, RefusalsNameTheFileOrFolder)
{
    const std::string existing = scratch.Path("existing.lvx");
    WriteText(existing, "[GENERAL]\nDescription=Lumivox Project\nAlbum_Count=0\nKeep=me\n");
    const std::string notFolder = beach + "/IMG_10.jpg";
    const struct {
        std::vector<std::string> args;
        int status;
        std::string text;
    } cases[] = {
        {{"new", existing, beach}, 1, existing + ": the file exists already"},
        {{"new", scratch.Path("a.lvx"), beach, notFolder}, 1, notFolder + ": not a folder"},
        {{"new", scratch.Path("a.lvx"), scratch.Path("gone")}, 1, scratch.Path("gone")},
        {{"new", scratch.Path("a.lvx")}, 2, "no folder"},
        {{"new"}, 2, "no project file"},
        {{"new", scratch.Path("a.lvx"), beach, "--wait", "1"}, 2, "'1' is not a number of seconds"},
        {{"new", scratch.Path("a.lvx"), beach, "--wait"}, 2, "--wait"},
        {{"new", scratch.Path("a.lvx"), beach, "--bogus"}, 2, "unknown option '--bogus'"},
        {{"new", beach, snow}, 2, beach + ": is a folder"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Join(c.args));
        const CliRun run = Cli(c.args);
        EXPECT_EQ(run.status, c.status) << run.error;
        EXPECT_EQ(run.error.rfind("lumivox-cli new: ", 0), 0u) << run.error;
        EXPECT_NE(run.error.find(c.text), std::string::npos) << run.error;
        EXPECT_FALSE(fs::exists(scratch.Path("a.lvx")));
    }
    EXPECT_NE(ReadText(existing).find("Keep=me"), std::string::npos) << "a refused new changed the file";

    // On a full disk --force fails and keeps the old project as it was.
    const CliRun full = Cli({"new", existing, beach, "--force"}, 100);
    EXPECT_EQ(full.status, 1) << full.error;
    EXPECT_NE(ReadText(existing).find("Keep=me"), std::string::npos) << "a failed new --force lost the old project";
    EXPECT_EQ(Join(FilesMatching(scratch.Folder(), "\\..*")), "") << "a pending file was left behind";

    // --force replaces the file, keys of the old one included.
    const CliRun forced = Cli({"new", existing, beach, "--force"});
    ASSERT_EQ(forced.status, 0) << forced.error;
    const std::string text = ReadText(existing);
    EXPECT_EQ(text.find("Keep=me"), std::string::npos) << text;
    EXPECT_NE(text.find("Name=Beach"), std::string::npos) << text;
}

// Names the project cannot keep (a line break) are left out with the name shown escaped,
// and no name reaches the terminal with its control characters.
TEST_F(NewCommandTest, LineBreaksAreRefusedAndControlsShownEscaped)
{
    const std::string folder = scratch.Path("red\x1b[31m album");
    fs::create_directories(folder);
    WriteTestBmp(folder + "/ok.bmp", 32, 24, 1);
    WriteTestBmp(folder + "/two\nlines.bmp", 32, 24, 2);
    const std::string project = scratch.Path("p.lvx");
    const CliRun run = Cli({"new", project, folder});
    ASSERT_EQ(run.status, 0) << run.error;
    EXPECT_NE(run.error.find("two\\nlines.bmp"), std::string::npos) << run.error;
    EXPECT_NE(run.error.find("red\\x1b[31m album"), std::string::npos) << run.error;
    EXPECT_EQ(run.error.find('\x1b'), std::string::npos) << run.error;
    EXPECT_EQ(std::count(run.error.begin(), run.error.end(), '\n'), 1) << run.error;
    const std::string text = ReadText(project);
    EXPECT_NE(text.find("ok.bmp"), std::string::npos) << text;
    EXPECT_EQ(text.find("lines.bmp"), std::string::npos) << text;
    const CliRun info = Cli({"info", project});
    EXPECT_EQ(info.output.find('\x1b'), std::string::npos) << info.output;
}

// make FOLDER... makes the disc of the project new writes for those folders; info --json
// gives its size before it is made; with music too.
TEST_F(NewCommandTest, MakeOfFoldersEqualsMakeOfTheNewProjectAndInfoKnowsItsSize)
{
    const std::string project = scratch.Path("p.lvx");
    ASSERT_EQ(Cli({"new", project, beach, snow}).status, 0);
    const std::string music = scratch.Path("tone.wav");
    WriteTestWave(music, 1.0);
    const struct {
        const char* name;
        std::vector<std::string> options;
    } cases[] = {
        {"NTSC without music", {}},
        {"PAL with music", {"--pal", "--music", music}},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ++n;
        const std::string fromProject = scratch.Path("project" + std::to_string(n) + ".cue");
        const std::string fromFolders = scratch.Path("folders" + std::to_string(n) + ".cue");
        const CliRun first = Make({project}, fromProject, c.options);
        ASSERT_EQ(first.status, 0) << first.error;
        const CliRun second = Make({beach, snow}, fromFolders, c.options);
        ASSERT_EQ(second.status, 0) << second.error;
        const std::vector<std::uint8_t> image = ReadBytes(scratch.Path("project" + std::to_string(n) + ".bin"));
        ASSERT_FALSE(image.empty());
        const std::string difference =
            FirstDifference(image, ReadBytes(scratch.Path("folders" + std::to_string(n) + ".bin")));
        EXPECT_TRUE(difference.empty()) << difference;

        std::vector<std::string> infoArgs = {"info", project, "--json"};
        infoArgs.insert(infoArgs.end(), c.options.begin(), c.options.end());
        const CliRun info = Cli(infoArgs);
        ASSERT_EQ(info.status, 0) << info.error;
        std::smatch disc;
        ASSERT_TRUE(std::regex_search(info.output, disc, std::regex("\"disc\": \\{([^}]*)\\}"))) << info.output;
        const std::string object = disc[1];
        std::smatch sectors;
        ASSERT_TRUE(std::regex_search(object, sectors, std::regex("\"sectors\": ([0-9]+)"))) << object;
        EXPECT_EQ(std::stoul(sectors[1]), image.size() / 2352) << object;
        EXPECT_NE(object.find("\"sectors_exact\": true"), std::string::npos) << object;
        EXPECT_NE(object.find("\"fits\": true, \"limit\": null"), std::string::npos) << object;
        EXPECT_NE(object.find("\"slides\": 4"), std::string::npos) << object;
        EXPECT_NE(object.find(n == 1 ? "\"norm\": \"NTSC\"" : "\"norm\": \"PAL\""), std::string::npos) << object;
    }
}

// A folder's pictures come in one order from new and from make, whatever the locale: a
// Turkish one has no small letter for "I" in a single byte.
TEST_F(NewCommandTest, FolderOrderIsTheSameUnderATurkishLocale)
{
    const locale_t turkish = ::newlocale(LC_ALL_MASK, "tr_TR.UTF-8", static_cast<locale_t>(nullptr));
    if (!turkish)
        GTEST_SKIP() << "tr_TR.UTF-8 is not installed";
    ::freelocale(turkish);
    const std::string folder = scratch.Path("order");
    fs::create_directories(folder);
    WriteTestBmp(folder + "/hat.bmp", 40, 30, 1);
    WriteTestBmp(folder + "/Ice.bmp", 48, 30, 2);
    const std::string project = scratch.Path("order.lvx");
    ::setenv("LC_ALL", "tr_TR.UTF-8", 1);
    const CliRun made = Cli({"new", project, folder});
    const CliRun fromFolder = Make({folder}, scratch.Path("folder.cue"));
    const CliRun fromProject = Make({project}, scratch.Path("project.cue"));
    ::unsetenv("LC_ALL");
    ASSERT_EQ(made.status, 0) << made.error;
    ASSERT_EQ(fromFolder.status, 0) << fromFolder.error;
    ASSERT_EQ(fromProject.status, 0) << fromProject.error;
    const std::string text = ReadText(project);
    EXPECT_LT(text.find("hat.bmp"), text.find("Ice.bmp")) << text;
    const std::string difference =
        FirstDifference(ReadBytes(scratch.Path("project.bin")), ReadBytes(scratch.Path("folder.bin")));
    EXPECT_TRUE(difference.empty()) << difference;
}

// The command line checks pictures by their header only and decodes each once, for its
// slide, taking the menu's covers from those decodes; the desktop program decodes them
// all in reduced mode when it loads. The disc is the same but for the menu page, whose
// covers come from a different decode of the same pictures.
TEST_F(NewCommandTest, LazyLoadingMakesTheDiscOfEagerLoading)
{
    const std::string project = scratch.Path("p.lvx");
    ASSERT_EQ(Cli({"new", project, beach, snow}).status, 0);
    // A turned picture: the cover of the first album.
    std::string text = ReadText(project);
    text.replace(text.find("[Album_01]\n"), 11, "[Album_01]\nRotate_01=270\n");
    WriteText(project, text);
    const CliRun lazy = Make({project}, scratch.Path("lazy.cue"));
    ASSERT_EQ(lazy.status, 0) << lazy.error;

    AlbumTable eager;
    const ProjectLoadResult loaded = eager.LoadProject(project, PictureLoading::Eager);
    ASSERT_TRUE(loaded.Loaded()) << loaded.error;
    ASSERT_TRUE(loaded.skipped.empty());
    ASSERT_EQ(eager.Picture(0, 0).rotation, 270);
    ASSERT_NE(eager.Picture(0, 1).picture, nullptr) << "loaded eagerly, every picture is decoded";
    MemorySink sink;
    ProductionParameters parameters = MakeParameters(eager, scratch.Path("eager"), &sink);
    DiscMenuState menu(ProgramFolderForTests());
    std::string error;
    ASSERT_TRUE(SetMenuFromState(menu, parameters.plan, &error)) << error;
    parameters.plan.cdLabel = "SAME";
    ProductionJob job(std::move(parameters));
    const ProductionResult result = job.Run(nullptr);
    ASSERT_TRUE(result.Finished()) << result.message;

    const std::vector<std::uint8_t> fromCli = ReadBytes(scratch.Path("lazy.bin"));
    ASSERT_EQ(fromCli.size(), sink.image.size()) << FirstDifference(sink.image, fromCli);
    // Only the menu page's sectors may differ (a Form 2 sector carries 2,324 bytes).
    const auto menuSectors = static_cast<std::size_t>(fs::file_size(scratch.Path("eager") + "/menu_01.mpg") / 2324);
    std::size_t differing = 0, first = 0, last = 0;
    for (std::size_t at = 0; at < fromCli.size(); at += 2352) {
        if (std::equal(fromCli.begin() + static_cast<std::ptrdiff_t>(at),
                       fromCli.begin() + static_cast<std::ptrdiff_t>(at + 2352),
                       sink.image.begin() + static_cast<std::ptrdiff_t>(at)))
            continue;
        if (differing++ == 0)
            first = at / 2352;
        last = at / 2352;
    }
    // Together, within one segment's length.
    EXPECT_LE(differing, menuSectors) << FirstDifference(sink.image, fromCli);
    EXPECT_LT(last - first, menuSectors) << "sectors " << first << " to " << last << " differ";
}

} // namespace
} // namespace lumivox::test
