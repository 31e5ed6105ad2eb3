// SPDX-License-Identifier: GPL-2.0-or-later
// lumivox: the desktop program. Everything lives in the lumivox_ui library.
#include "shell/Application.h"

int main(int argc, char** argv)
{
    return lumivox::ui::RunLumivox(argc, argv);
}
