// SPDX-License-Identifier: GPL-2.0-or-later
#include "CliDocs.h"

#include "Command.h"

#include <set>
#include <sstream>
#include <vector>

namespace lumivox::cli {

const char* const kExitStatusHelp =
    "Exit status: 0 when the command did what was asked, 1 when it failed (one line on\n"
    "standard error names the file or drive and the reason), 2 for a wrong command line,\n"
    "130 when cancelled by Ctrl-C or SIGTERM. A command's help names what is particular\n"
    "to it.";

namespace {

constexpr const char* kOverview =
    "lumivox-cli is the command-line face of Lumivox, which turns photo albums into a Video\n"
    "CD 2.0 that plays on a television through DVD and Video CD players. It makes the disc\n"
    "image from a project file or from folders of pictures, burns it, and offers the steps\n"
    "of a production run one by one (rendering, still encoding, music conversion, stream\n"
    "scanning). Progress goes to standard error: redrawn on a terminal, plain lines\n"
    "otherwise.";

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// Text for roff: backslashes and hyphens escaped, control characters at a line start
// made harmless.
std::string Roff(const std::string& text)
{
    std::string out;
    for (char c : text) {
        if (c == '\\')
            out += "\\e";
        else if (c == '-')
            out += "\\-";
        else
            out += c;
    }
    if (!out.empty() && (out[0] == '.' || out[0] == '\''))
        out.insert(0, "\\&");
    return out;
}

// A help text as man(7) paragraphs: blank lines part paragraphs, prose is filled, and
// indented lines (option lists, tables) keep their layout.
std::string RoffParagraphs(const std::string& help)
{
    std::string out;
    bool inBlock = false;
    bool paragraphOpen = false;
    for (const std::string& line : Lines(help)) {
        if (line.find_first_not_of(' ') == std::string::npos) {
            if (inBlock)
                out += ".fi\n";
            inBlock = false;
            paragraphOpen = false;
            continue;
        }
        if (!paragraphOpen) {
            out += ".PP\n";
            paragraphOpen = true;
        }
        const bool indented = line[0] == ' ';
        if (indented && !inBlock)
            out += ".nf\n";
        else if (!indented && inBlock)
            out += ".fi\n";
        inBlock = indented;
        out += Roff(line) + "\n";
    }
    if (inBlock)
        out += ".fi\n";
    return out;
}

bool OptionChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
}

// The options a command's synopsis and help name (--word, -x).
std::vector<std::string> CommandOptions(const Command& command)
{
    std::set<std::string> options{"--help"};
    const std::string text = command.synopsis + "\n" + command.help;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '-' ||
            (i > 0 && (OptionChar(text[i - 1]) || (text[i - 1] >= 'A' && text[i - 1] <= 'Z'))))
            continue;
        std::size_t start = i;
        std::size_t j = i + (i + 1 < text.size() && text[i + 1] == '-' ? 2 : 1);
        if (j >= text.size() || text[j] < 'a' || text[j] > 'z')
            continue;
        while (j < text.size() && OptionChar(text[j]))
            ++j;
        std::string option = text.substr(start, j - start);
        while (option.back() == '-')
            option.pop_back();
        if (option.size() == 2 || option.rfind("--", 0) == 0)
            options.insert(option);
        i = j;
    }
    return {options.begin(), options.end()};
}

// A one-line summary: the help's first line up to its first punctuation.
std::string Summary(const Command& command)
{
    std::string line = Lines(command.help).empty() ? std::string() : Lines(command.help).front();
    const std::size_t end = line.find_first_of(".:;(,");
    if (end != std::string::npos)
        line.erase(end);
    while (!line.empty() && line.back() == ' ')
        line.pop_back();
    return line;
}

std::string Joined(const std::vector<std::string>& words)
{
    std::string out;
    for (const std::string& word : words)
        out += (out.empty() ? "" : " ") + word;
    return out;
}

} // namespace

std::string ManualPage()
{
    std::string page;
    page += ".\\\" The manual page of lumivox-cli, written by lumivox-cli --manual-page from its own\n";
    page += ".\\\" help texts.\n";
    page += std::string(".TH LUMIVOX\\-CLI 1 \"\" \"Lumivox ") + LUMIVOX_VERSION + "\" \"User Commands\"\n";
    page += ".SH NAME\nlumivox\\-cli \\- turns photo albums into a Video CD, from the command line\n";
    page += ".SH SYNOPSIS\n.B lumivox\\-cli\n.I COMMAND\n.RI [ ARGUMENTS ]\n.br\n"
            ".B lumivox\\-cli help\n.I COMMAND\n.br\n.B lumivox\\-cli\n.BR \\-\\-version \" | \" \\-\\-help\n";
    page += ".SH DESCRIPTION\n" + RoffParagraphs(kOverview);
    page += ".PP\nEvery command accepts \\fB\\-\\-help\\fP, which prints its section of this page.\n";
    page += ".SH COMMANDS\n";
    for (const Command& command : RegisteredCommands()) {
        page += ".SS " + Roff(command.name) + "\n";
        page += ".B lumivox\\-cli " + Roff(command.name) + "\n" + Roff(command.synopsis) + "\n";
        page += RoffParagraphs(command.help);
    }
    page += ".SH EXIT STATUS\n" + RoffParagraphs(kExitStatusHelp);
    page += ".SH ENVIRONMENT\n"
            ".TP\n.B LUMIVOX_CONFIG_DIR\nthe folder of config.ini (default: $XDG_CONFIG_HOME/lumivox, or\n"
            "~/.config/lumivox)\n"
            ".TP\n.B LUMIVOX_PROGRAM_DIR\nthe folder of the templates, the MPEG files and the help (default:\n"
            "/usr/share/lumivox for the installed program)\n"
            ".TP\n.B LUMIVOX_EMULATED_RECORDER\nemulated:FOLDER adds an emulated recorder to the drive list\n"
            ".TP\n.B LUMIVOX_SYSTEM_DRIVES\n0 leaves the machine's own drives out of the drive list\n";
    page += ".SH FILES\n.TP\n.I ~/.config/lumivox/config.ini\nthe settings the desktop program saves "
            "(TV norm, temporary folder, wait time, AutoOrient)\n"
            ".TP\n.I /usr/share/lumivox/template/\nthe installed disc-menu templates\n";
    page += ".SH SEE ALSO\n.BR lumivox (1)\n";
    return page;
}

std::string BashCompletion()
{
    std::vector<std::string> names;
    for (const Command& command : RegisteredCommands())
        names.push_back(command.name);
    std::string script =
        "# bash completion for lumivox-cli, written by lumivox-cli --completion bash from its\n"
        "# command table.\n"
        "_lumivox_cli()\n"
        "{\n"
        "    local cur=${COMP_WORDS[COMP_CWORD]}\n"
        "    local commands=\"" +
        Joined(names) +
        "\"\n"
        "    if [ \"$COMP_CWORD\" -eq 1 ]; then\n"
        "        COMPREPLY=($(compgen -W \"$commands help --help --version --completion --manual-page\" -- \"$cur\"))\n"
        "        return\n"
        "    fi\n"
        "    local options=\"\"\n"
        "    case ${COMP_WORDS[1]} in\n"
        "        help)\n"
        "            [ \"$COMP_CWORD\" -eq 2 ] && COMPREPLY=($(compgen -W \"$commands\" -- \"$cur\"))\n"
        "            return ;;\n";
    for (const Command& command : RegisteredCommands())
        script += "        " + command.name + ") options=\"" + Joined(CommandOptions(command)) + "\" ;;\n";
    script += "    esac\n"
              "    # Other words are files and folders: bash's own completion (complete -o default).\n"
              "    if [[ $cur == -* ]]; then\n"
              "        COMPREPLY=($(compgen -W \"$options\" -- \"$cur\"))\n"
              "    fi\n"
              "}\n"
              "complete -o default -F _lumivox_cli lumivox-cli\n";
    return script;
}

std::string ZshCompletion()
{
    std::string script = "#compdef lumivox-cli\n"
                         "# zsh completion for lumivox-cli, written by lumivox-cli --completion zsh from its\n"
                         "# command table.\n"
                         "_lumivox-cli() {\n"
                         "    local -a commands options\n"
                         "    commands=(\n";
    for (const Command& command : RegisteredCommands()) {
        std::string summary;
        for (char c : Summary(command)) {
            if (c == '\'')
                summary += "'\\''";
            else if (c == ':')
                summary += "\\:";
            else
                summary += c;
        }
        script += "        '" + command.name + ":" + summary + "'\n";
    }
    script += "    )\n"
              "    if (( CURRENT == 2 )); then\n"
              "        _describe -t commands 'lumivox-cli command' commands\n"
              "        compadd -- help --help --version --completion --manual-page\n"
              "        return\n"
              "    fi\n"
              "    case $words[2] in\n"
              "        (help) (( CURRENT == 3 )) && _describe -t commands 'command' commands; return ;;\n";
    for (const Command& command : RegisteredCommands())
        script += "        (" + command.name + ") options=(" + Joined(CommandOptions(command)) + ") ;;\n";
    script += "    esac\n"
              "    if [[ $PREFIX == -* ]]; then\n"
              "        compadd -a options\n"
              "    else\n"
              "        _files\n"
              "    fi\n"
              "}\n"
              "_lumivox-cli \"$@\"\n";
    return script;
}

} // namespace lumivox::cli
