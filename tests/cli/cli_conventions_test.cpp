// SPDX-License-Identifier: GPL-2.0-or-later
// lumivox-cli's shared conventions, run through the built program: the options several
// commands share are read alike, every command knows --version, the reporting commands
// speak JSON or keep quiet, and the manual page and completions come from the command table.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct CliRun {
    int status = -1;
    std::string output; // standard output and standard error together
};

std::string Quoted(const std::string& word)
{
    std::string out = "'";
    for (char c : word)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

CliRun RunCli(const std::vector<std::string>& args)
{
    std::string command = Quoted(std::string(LUMIVOX_BIN_DIR) + "/lumivox-cli");
    for (const std::string& arg : args)
        command += " " + Quoted(arg);
    CliRun run;
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (!pipe)
        return run;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        run.output.append(buffer, n);
    const int status = ::pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

class CliConventionsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder_ = fs::temp_directory_path() / ("lumivox-cli-test-" + std::to_string(::getpid()));
        fs::create_directories(folder_ / "recorder");
        ::setenv("LUMIVOX_CONFIG_DIR", (folder_ / "config").c_str(), 1);
        ::setenv("LUMIVOX_EMULATED_RECORDER", ("emulated:" + (folder_ / "recorder").string()).c_str(), 1);
        // The bundled sample project, written for this checkout.
        std::ifstream in(std::string(LUMIVOX_SOURCE_DIR) + "/samples/sample.lvx.in");
        std::stringstream text;
        text << in.rdbuf();
        std::string project = text.str();
        for (std::size_t at; (at = project.find("@SAMPLES@")) != std::string::npos;)
            project.replace(at, 9, std::string(LUMIVOX_SOURCE_DIR) + "/samples");
        std::ofstream(Project()) << project;
    }
    void TearDown() override
    {
        ::unsetenv("LUMIVOX_EMULATED_RECORDER");
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }
    std::string Project() const { return (folder_ / "sample.lvx").string(); }
    std::string Recorder() const { return "emulated:" + (folder_ / "recorder").string(); }

    fs::path folder_;
};

TEST_F(CliConventionsTest, CommandLinesGiveTheirStatusAndOutput)
{
    const std::string version = std::string("lumivox-cli ") + LUMIVOX_VERSION + "\n";
    const struct {
        std::vector<std::string> args;
        int status;
        std::string text; // expected in the output; "" means the output is empty
    } cases[] = {
        {{"--version"}, 0, version},
        {{"make", "--version"}, 0, version},
        {{"--help"}, 0, "Exit status: 0"},
        // One parser for the norm and the template.
        {{"info", Project(), "--pal", "--json"}, 0, "\"norm\": \"PAL\""},
        {{"info", Project(), "--json", "--ntsc"}, 0, "\"norm\": \"NTSC\""},
        {{"info", Project(), "--template"}, 2, "--template needs a template name or file"},
        {{"render", Project(), "--out", (folder_ / "r").string(), "--template"}, 1, "--template needs"},
        {{"drives", "--json"}, 0, "\"writer\": true"},
        {{"drives", "--quiet"}, 0, ""},
        {{"drives", "--frobnicate"}, 2, "unexpected argument '--frobnicate'"},
        {{"blank-check", Recorder(), "--json"}, 0, "\"blank\": true, \"free_mb\": "},
        {{"blank-check", "-q", Recorder()}, 0, ""},
        {{"blank-check", "--json"}, 2, "give one DEVICE"},
        {{"--completion", "bash"}, 0, "complete -o default -F _lumivox_cli lumivox-cli"},
        {{"--completion", "zsh"}, 0, "#compdef lumivox-cli"},
        {{"--completion", "fish"}, 2, "bash or zsh"},
        {{"--manual-page"}, 0, ".SH EXIT STATUS"},
    };
    for (const auto& c : cases) {
        std::string line;
        for (const std::string& arg : c.args)
            line += arg + " ";
        SCOPED_TRACE(line);
        const CliRun run = RunCli(c.args);
        EXPECT_EQ(run.status, c.status) << run.output;
        if (c.text.empty())
            EXPECT_EQ(run.output, "");
        else
            EXPECT_NE(run.output.find(c.text), std::string::npos) << run.output;
    }
}

TEST_F(CliConventionsTest, ManualPageAndCompletionsCoverEveryCommand)
{
    const std::string page = RunCli({"--manual-page"}).output;
    const std::string bash = RunCli({"--completion", "bash"}).output;
    const std::string zsh = RunCli({"--completion", "zsh"}).output;
    // The command list of --help is the table the documents are written from.
    const std::string usage = RunCli({"--help"}).output;
    std::istringstream lines(usage.substr(usage.find("Commands:\n") + 10));
    int commands = 0;
    for (std::string line; std::getline(lines, line) && line.rfind("  ", 0) == 0;) {
        std::string name = line.substr(2, line.find(' ', 2) - 2);
        SCOPED_TRACE(name);
        ++commands;
        std::string roffName;
        for (char c : name)
            roffName += c == '-' ? std::string("\\-") : std::string(1, c);
        EXPECT_NE(page.find(".SS " + roffName + "\n"), std::string::npos);
        EXPECT_NE(bash.find("        " + name + ") options=\"--"), std::string::npos);
        EXPECT_NE(zsh.find("        '" + name + ":"), std::string::npos);
    }
    EXPECT_GE(commands, 10);
    // Options come from each command's own synopsis and help.
    EXPECT_NE(bash.find("--pal"), std::string::npos);
    EXPECT_NE(bash.find("--no-verify"), std::string::npos);
}

} // namespace
