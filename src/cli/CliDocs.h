// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The manual page and the shell completions of lumivox-cli, written from the command
// table itself (every command's name, synopsis and help text), so that they say what
// --help says. The build runs lumivox-cli to write them; the package installs them.

#include <string>

namespace lumivox::cli {

// The exit statuses every command shares, for the overview and the manual page.
extern const char* const kExitStatusHelp;

// The overview of `lumivox-cli --help` without the command list.
std::string ManualPage(); // lumivox-cli(1) in roff (man(7) macros)
std::string BashCompletion(); // for bash-completion: complete -F ... lumivox-cli
std::string ZshCompletion(); // a #compdef file for zsh's fpath

} // namespace lumivox::cli
