// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The label a Video CD carries: its ISO 9660 volume identifier (32 d-characters) and the
// album identifier of INFO.VCD (the first 16 of them). ISO 9660 lets a volume identifier
// hold d-characters only: the capitals A to Z, the digits and "_". Whatever a user types
// into the CD label (lower case, spaces, accents, "/" or ":", control characters, bytes
// that are no UTF-8) is mapped onto them, the same way under every locale.

#include <cstddef>
#include <string>
#include <string_view>

namespace lumivox {

// The longest volume identifier ISO 9660 allows.
inline constexpr std::size_t kVolumeLabelLength = 32;

struct VolumeLabel {
    std::string text; // what the disc carries: 1 to 32 d-characters
    bool changed = false; // text is not exactly what was asked for
};

// The label wanted as the disc carries it. ASCII letters become capitals; accented Latin
// letters their base letter (é → E, ß → SS, Æ → AE); combining accents are dropped; every
// run of other characters (spaces, punctuation, "_", controls, other scripts, invalid
// UTF-8) becomes one "_", none at either end; then at most 32 are kept. A label with
// nothing left is fallback (itself mapped the same way; "LUMIVOX" when that is empty too).
VolumeLabel MapVolumeLabel(std::string_view wanted, std::string_view fallback);

// The d-characters of text by the same rules, at most maxLength of them; may be empty.
std::string VolumeIdentifierCharacters(std::string_view text, std::size_t maxLength = kVolumeLabelLength);

} // namespace lumivox
