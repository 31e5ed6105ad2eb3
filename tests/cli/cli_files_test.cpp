// SPDX-License-Identifier: GPL-2.0-or-later
// lumivox-cli with the files it reads and writes, run through the built program: a
// settings file it cannot read is named in a warning, and outputs that are no regular
// file or whose name is too long are refused, naming the file.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string Quoted(const std::string& word)
{
    std::string out = "'";
    for (char c : word)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// The command's status and its standard output and error together.
int RunCli(const std::vector<std::string>& args, std::string& output)
{
    std::string command = Quoted(std::string(LUMIVOX_BIN_DIR) + "/lumivox-cli");
    for (const std::string& arg : args)
        command += " " + Quoted(arg);
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (!pipe)
        return -1;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        output.append(buffer, n);
    const int status = ::pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(CliFiles, UnreadSettingsAreToldAndOutputsThatAreNoFilesRefused)
{
    const fs::path folder = fs::temp_directory_path() / ("lumivox-cli-files-" + std::to_string(::getpid()));
    fs::create_directories(folder / "config");
    const std::string config = (folder / "config/config.ini").string();
    std::ofstream(config, std::ios::binary) << std::string("\xFF\xFE[\0G\0]\0", 8); // UTF-16
    ::setenv("LUMIVOX_CONFIG_DIR", (folder / "config").c_str(), 1);
    const std::string project = (folder / "empty.lvx").string();
    std::ofstream(project) << "[GENERAL]\nDescription=Lumivox Project\nVersion=1.0\nAlbum_Count=0\n";
    const std::string fifo = (folder / "out.mpg").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string picture = std::string(LUMIVOX_SOURCE_DIR) + "/samples/mountain_lakes_01.jpg";
    const std::string warning = "lumivox-cli: warning: Cannot read " + config + ": the file is in UTF-16";

    const struct {
        std::vector<std::string> args;
        int status;
        std::string text;
        bool warned; // the settings' warning comes first
    } cases[] = {
        {{"info", project, "--json"}, 0, "\"albums\": []", true},
        {{"templates"}, 0, "classic.ini", false}, // reads no settings
        {{"still", picture, "-o", fifo}, 1, "lumivox-cli still: " + fifo + " is not a regular file.", true},
        {{"music", picture, "-o", "/dev/null"}, 1, "lumivox-cli music: /dev/null is not a regular file.", false},
        // make writes DISC.bin beside DISC.cue: neither may land in /dev.
        {{"make", std::string(LUMIVOX_SOURCE_DIR) + "/samples", "-o", "/dev/null"}, 1,
         "lumivox-cli make: /dev/null is not a regular file.", true},
        {{"music", picture, "-o", (folder / std::string(256, 'n')).string()}, 1, "longer than 255 bytes", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.front());
        std::string output;
        EXPECT_EQ(RunCli(c.args, output), c.status) << output;
        EXPECT_NE(output.find(c.text), std::string::npos) << output;
        EXPECT_EQ(output.find(warning) == 0, c.warned) << output;
    }
    EXPECT_EQ(fs::status(fifo).type(), fs::file_type::fifo);
    EXPECT_EQ(fs::status("/dev/null").type(), fs::file_type::character);
    EXPECT_FALSE(fs::exists("/dev/null.bin") || fs::exists("/dev/null.cue"));
    ::unsetenv("LUMIVOX_CONFIG_DIR");
    fs::remove_all(folder);
}

} // namespace
