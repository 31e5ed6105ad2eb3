// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The picture of the splash window and the about box, drawn for this program.

#include <QImage>

namespace lumivox::ui {

// The splash and about picture size.
inline constexpr int kBannerWidth = 520;
inline constexpr int kBannerHeight = 320;

// Draws the banner: the program's name, icon and a line of text under it (the version
// and copyright in the about box, a greeting on the splash).
QImage DrawBanner(const QString& footer, qreal devicePixelRatio = 1.0);

} // namespace lumivox::ui
