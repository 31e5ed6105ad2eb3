// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The options several lumivox-cli commands share, read by one parser: the TV norm
// (--pal, --ntsc), the disc-menu template (--template), --quiet and --json. A command
// asks for the ones it takes and reads the rest of its words itself:
//
//     SharedOptions shared;
//     for (std::size_t i = 0; i < args.size(); ++i) {
//         std::string error;
//         if (TakeSharedOption(args, &i, kNormOption | kTemplateOption, &shared, &error)) {
//             if (!error.empty()) return Fail(error, 2);
//             continue;
//         }
//         ... the command's own options ...
//     }

#include <string>
#include <vector>

namespace lumivox::cli {

// Which shared options a command takes.
enum SharedOptionSet : unsigned {
    kNormOption = 1u << 0, // --pal, --ntsc
    kTemplateOption = 1u << 1, // --template NAME|FILE
    kQuietOption = 1u << 2, // --quiet, -q
    kJsonOption = 1u << 3, // --json
};

struct SharedOptions {
    int norm = -1; // 1 PAL, 0 NTSC, -1 not given (the PAL setting decides)
    std::string templateValue; // empty when not given
    bool quiet = false; // no progress, only warnings, errors and the result
    bool json = false; // the result as one JSON object on standard output
};

// Takes the shared option at args[*i] when it is one of those in accepted, advancing *i
// past its value. False when args[*i] is none of them; true with *error set when its
// value is missing.
bool TakeSharedOption(const std::vector<std::string>& args, std::size_t* i, unsigned accepted, SharedOptions* options,
                      std::string* error);

// The norm option's value as the PAL flag: given, else the PAL setting of config.ini.
bool PalChosen(const SharedOptions& options);

} // namespace lumivox::cli
