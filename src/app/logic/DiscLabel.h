// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The CD label as the disc will carry it, for the burn page to show while the user types:
// a volume identifier holds only capitals, digits and "_", at most 32 of them.

#include <QString>

namespace lumivox::ui {

// The longest label the disc keeps.
int DiscLabelLength();

// typed as the disc will carry it (an empty or unusable label gives the default label);
// *changed tells whether that differs from what was typed.
QString DiscLabelOnDisc(const QString& typed, bool* changed = nullptr);

} // namespace lumivox::ui
