// SPDX-License-Identifier: GPL-2.0-or-later
// lumivox-cli templates: the installed disc-menu templates.

#include "Command.h"

#include "base/Paths.h"
#include "picture/MenuTemplate.h"

#include <cstdio>

namespace lumivox::cli {

namespace {

int RunTemplates(const std::vector<std::string>& args)
{
    if (!args.empty()) {
        std::fprintf(stderr, "lumivox-cli templates: unexpected argument '%s'\n", args.front().c_str());
        return 2;
    }
    const std::string folder = TemplateFolder(ProgramFolder());
    const std::vector<TemplateListEntry> list = ListTemplates(folder);
    if (list.empty()) {
        std::printf("No templates installed in %s\n", folder.c_str());
        return 0;
    }
    std::printf("%-24s %-24s %s\n", "FILE", "NAME", "ENTRIES PER PAGE");
    for (const TemplateListEntry& entry : list)
        std::printf("%-24s %-24s %d%s\n", entry.fileName.c_str(), entry.name.c_str(), entry.itemsCount,
                    entry.fileName == kDefaultTemplateFile ? "  (default)" : "");
    return 0;
}

const CommandRegistration registration({
    "templates",
    "",
    "Lists the installed disc-menu templates (the *.ini files of the \"template\" folder\n"
    "in the program folder): file name, name and menu entries per page. The file name\n"
    "is what lumivox-cli render --template takes.",
    RunTemplates,
});

} // namespace

} // namespace lumivox::cli
