// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The television norm of a disc, the one the whole program shares: the "PAL" setting
// stores it (1 PAL, 0 NTSC), the burn page switches it, the renderer, the still encoder,
// the multiplexer's companion still and the disc's MPEG track all follow it.

namespace lumivox {

enum class TvNorm : int { Ntsc = 0, Pal = 1 };

// The norm the "PAL" setting's value stands for (anything but 0 is PAL).
constexpr TvNorm TvNormFromSetting(int pal)
{
    return pal != 0 ? TvNorm::Pal : TvNorm::Ntsc;
}
constexpr int TvNormSetting(TvNorm norm)
{
    return norm == TvNorm::Pal ? 1 : 0;
}
constexpr const char* TvNormName(TvNorm norm)
{
    return norm == TvNorm::Pal ? "PAL" : "NTSC";
}

} // namespace lumivox
