// SPDX-License-Identifier: GPL-2.0-or-later
#include "Options.h"

#include "CliSupport.h"

namespace lumivox::cli {

bool TakeSharedOption(const std::vector<std::string>& args, std::size_t* i, unsigned accepted, SharedOptions* options,
                      std::string* error)
{
    const std::string& arg = args[*i];
    if ((accepted & kNormOption) && (arg == "--pal" || arg == "--ntsc")) {
        options->norm = arg == "--pal" ? 1 : 0;
    } else if ((accepted & kTemplateOption) && arg == "--template") {
        if (*i + 1 >= args.size())
            *error = "--template needs a template name or file";
        else
            options->templateValue = args[++*i];
    } else if ((accepted & kQuietOption) && (arg == "--quiet" || arg == "-q")) {
        options->quiet = true;
    } else if ((accepted & kJsonOption) && arg == "--json") {
        options->json = true;
    } else {
        return false;
    }
    return true;
}

bool PalChosen(const SharedOptions& options)
{
    return options.norm >= 0 ? options.norm == 1 : PalFromSettings();
}

} // namespace lumivox::cli
