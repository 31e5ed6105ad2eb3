// SPDX-License-Identifier: GPL-2.0-or-later
#include "vcd/VolumeLabel.h"

#include "base/TextUtil.h"

namespace lumivox {

namespace {

constexpr const char* kLastResortLabel = "LUMIVOX";

// The base letters of U+00C0 to U+017F (Latin-1 letters and Latin Extended-A), one
// capital each; "*" marks the letters written as two, ' ' the signs (× and ÷).
constexpr char kLatinBase[] =
    "AAAAAA*CEEEEIIII" // U+00C0
    "DNOOOOO OUUUUY**" // U+00D0
    "AAAAAA*CEEEEIIII" // U+00E0
    "DNOOOOO OUUUUY*Y" // U+00F0
    "AAAAAACCCCCCCCDD" // U+0100
    "DDEEEEEEEEEEGGGG" // U+0110
    "GGGGHHHHIIIIIIII" // U+0120
    "II**JJKKKLLLLLLL" // U+0130
    "LLLNNNNNNNNNOOOO" // U+0140
    "OO**RRRRRRSSSSSS" // U+0150
    "SSTTTTTTUUUUUUUU" // U+0160
    "UUUUWWYYYZZZZZZS"; // U+0170
static_assert(sizeof kLatinBase == 0x180 - 0xC0 + 1);

// The capitals that stand for code point c on a disc: empty for a character that is no
// letter or digit of the Latin alphabet (it separates words), "-" for one that is dropped
// (a combining accent, which follows the letter it sits on).
std::string_view Capitals(char32_t c)
{
    static constexpr char kAscii[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    if (c >= 'A' && c <= 'Z')
        return {kAscii + (c - 'A'), 1};
    if (c >= 'a' && c <= 'z')
        return {kAscii + (c - 'a'), 1};
    if (c >= '0' && c <= '9')
        return {kAscii + 26 + (c - '0'), 1};
    if (c >= 0x0300 && c <= 0x036F)
        return "-";
    if (c < 0xC0 || c >= 0x180)
        return {};
    switch (c) {
    case 0xC6:
    case 0xE6:
        return "AE";
    case 0xDE:
    case 0xFE:
        return "TH";
    case 0xDF:
        return "SS";
    case 0x132:
    case 0x133:
        return "IJ";
    case 0x152:
    case 0x153:
        return "OE";
    default:
        break;
    }
    const char base = kLatinBase[c - 0xC0];
    return base >= 'A' && base <= 'Z' ? std::string_view(kAscii + (base - 'A'), 1) : std::string_view();
}

} // namespace

std::string VolumeIdentifierCharacters(std::string_view text, std::size_t maxLength)
{
    std::string out;
    bool separated = false;
    for (std::size_t pos = 0; pos < text.size() && out.size() < maxLength;) {
        char32_t c = 0;
        const std::string_view capitals = NextUtf8Character(text, pos, c) ? Capitals(c) : std::string_view();
        if (capitals == "-")
            continue;
        if (capitals.empty()) {
            separated = true;
            continue;
        }
        if (separated && !out.empty())
            out += '_';
        separated = false;
        out += capitals;
    }
    if (out.size() > maxLength)
        out.resize(maxLength);
    while (!out.empty() && out.back() == '_')
        out.pop_back();
    return out;
}

VolumeLabel MapVolumeLabel(std::string_view wanted, std::string_view fallback)
{
    VolumeLabel label;
    label.text = VolumeIdentifierCharacters(wanted);
    if (label.text.empty())
        label.text = VolumeIdentifierCharacters(fallback);
    if (label.text.empty())
        label.text = kLastResortLabel;
    label.changed = label.text != wanted;
    return label;
}

} // namespace lumivox
