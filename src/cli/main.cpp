// SPDX-License-Identifier: GPL-2.0-or-later
// lumivox-cli: the headless face of Lumivox. Dispatches to the registered subcommands.

#include "CliDocs.h"
#include "CliSupport.h"
#include "Command.h"

#include "base/Paths.h"
#include "picture/PicBitmap.h"
#include "project/Settings.h"

#include <algorithm>
#include <cstdio>
#include <csignal>
#include <cstring>

namespace lumivox::cli {

static std::vector<Command>& Registry()
{
    static std::vector<Command> commands;
    return commands;
}

CommandRegistration::CommandRegistration(Command command)
{
    Registry().push_back(std::move(command));
}

const std::vector<Command>& RegisteredCommands()
{
    auto& commands = Registry();
    std::sort(commands.begin(), commands.end(), [](const Command& a, const Command& b) { return a.name < b.name; });
    return commands;
}

static void PrintUsage(FILE* out)
{
    std::fprintf(out,
                 "Lumivox %s - turns photo albums into a Video CD.\n\n"
                 "Usage: lumivox-cli COMMAND [ARGUMENTS]\n"
                 "       lumivox-cli help COMMAND\n\n"
                 "Commands:\n",
                 LUMIVOX_VERSION);
    for (const Command& command : RegisteredCommands())
        std::fprintf(out, "  %-11s %s\n", command.name.c_str(), command.synopsis.c_str());
    std::fprintf(out,
                 "\nEvery command accepts --help.\n\n"
                 "Options:\n"
                 "  --version            print the version and exit (after a command as well)\n"
                 "  --completion SHELL   print the completion script for bash or zsh\n"
                 "  --manual-page        print the manual page (roff)\n\n"
                 "%s\n",
                 kExitStatusHelp);
}

static void PrintCommandHelp(const Command& command)
{
    std::printf("Usage: lumivox-cli %s %s\n\n%s\n", command.name.c_str(), command.synopsis.c_str(),
                command.help.c_str());
}

// The commands that take values from config.ini (the TV norm, the wait time, the slide
// fitting, the temporary folder...).
static bool ReadsSettings(const std::string& name)
{
    for (const char* reader : {"info", "make", "new", "render", "still"})
        if (name == reader)
            return true;
    return false;
}

static const Command* FindCommand(const std::string& name)
{
    for (const Command& command : RegisteredCommands())
        if (command.name == name)
            return &command;
    return nullptr;
}

} // namespace lumivox::cli

int main(int argc, char** argv)
{
    using namespace lumivox::cli;
    if (argc < 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h")) {
        PrintUsage(stdout);
        return argc < 2 ? 2 : 0;
    }
    if (!std::strcmp(argv[1], "--version")) {
        std::printf("lumivox-cli %s\n", LUMIVOX_VERSION);
        return 0;
    }
    if (!std::strcmp(argv[1], "--manual-page")) {
        std::fputs(ManualPage().c_str(), stdout);
        return 0;
    }
    if (!std::strcmp(argv[1], "--completion")) {
        const std::string shell = argc > 2 ? argv[2] : "";
        if (shell != "bash" && shell != "zsh") {
            std::fprintf(stderr, "lumivox-cli: --completion takes bash or zsh\n");
            return 2;
        }
        std::fputs((shell == "bash" ? BashCompletion() : ZshCompletion()).c_str(), stdout);
        return 0;
    }
    // Every command here makes or reads its pictures and ends: photo-sized memory goes
    // back to the system as soon as a picture is done with.
    lumivox::PicBitmap::ReturnLargePixelsToSystem(true);
    std::string name = argv[1];
    if (name == "help") {
        if (argc < 3) {
            PrintUsage(stdout);
            return 0;
        }
        if (const Command* command = FindCommand(argv[2])) {
            PrintCommandHelp(*command);
            return 0;
        }
        std::fprintf(stderr, "lumivox-cli: unknown command '%s'\n", argv[2]);
        return 2;
    }
    const Command* command = FindCommand(name);
    if (!command) {
        std::fprintf(stderr, "lumivox-cli: unknown command '%s' (see lumivox-cli --help)\n", name.c_str());
        return 2;
    }
    // Past a file size limit a write fails with its own error (and the run cleans up)
    // rather than the signal killing the program with its pending files left behind.
    std::signal(SIGXFSZ, SIG_IGN);
    std::vector<std::string> args(argv + 2, argv + argc);
    for (const std::string& arg : args) {
        if (arg == "--help" || arg == "-h") {
            PrintCommandHelp(*command);
            return 0;
        }
        if (arg == "--version") {
            std::printf("lumivox-cli %s\n", LUMIVOX_VERSION);
            return 0;
        }
    }
    // A settings file that cannot be read would otherwise pass for a fresh installation:
    // a PAL user would get an NTSC disc without a word.
    if (ReadsSettings(name)) {
        const std::string warning = lumivox::SettingsFileWarning(lumivox::ConfigFilePath());
        if (!warning.empty())
            std::fprintf(stderr, "lumivox-cli: warning: %s\n", OneLine(warning).c_str());
    }
    return command->run(args);
}
