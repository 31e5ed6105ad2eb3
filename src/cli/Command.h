// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Subcommands of lumivox-cli. Each subcommand lives in its own cmd_<name>.cpp and
// registers itself with a static CommandRegistration, so adding a command never
// touches another command's file.

#include <string>
#include <vector>

namespace lumivox::cli {

struct Command {
    std::string name; // word typed after lumivox-cli
    std::string synopsis; // one line: arguments and options
    std::string help; // full description shown by "lumivox-cli help NAME" and --help
    // Runs the command; args excludes the program name and the command word.
    // Returns the process exit status.
    int (*run)(const std::vector<std::string>& args);
};

// Registers a command at static-initialisation time.
struct CommandRegistration {
    explicit CommandRegistration(Command command);
};

const std::vector<Command>& RegisteredCommands();

} // namespace lumivox::cli
