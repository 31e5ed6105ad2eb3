// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The start of the desktop program: settings, splash, main window, recorder set-up,
// placement, the project given on the command line; settings saved at the end.
//
//   lumivox [PROJECT.lvx]
//   lumivox --screenshots OUTDIR [PROJECT.lvx]

namespace lumivox::ui {

int RunLumivox(int argc, char** argv);

} // namespace lumivox::ui
