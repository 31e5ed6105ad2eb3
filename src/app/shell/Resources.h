// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The program's icons are Qt resources inside the static lumivox_ui library, which the
// linker would drop unless something registers them; EnsureResources does, once.

namespace lumivox::ui {
void EnsureResources();
}
