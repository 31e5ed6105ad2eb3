// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Text helpers shared by the settings, the project file and the command line.
// All text is UTF-8; a field "of at most N characters" holds at most N bytes.

#include <cstddef>
#include <string>
#include <string_view>

namespace lumivox {

// Longest album name, picture path or folder the program keeps: the fixed 260-byte
// fields of the stored formats less their terminator.
constexpr std::size_t kMaxTextBytes = 259;

// Returns text cut to at most maxBytes bytes without splitting a UTF-8 character: a
// multi-byte sequence that would cross the limit is dropped whole. Text that is not
// valid UTF-8 is cut at the last position that does not fall inside a sequence.
std::string CutUtf8(std::string_view text, std::size_t maxBytes = kMaxTextBytes);

// True when text is well-formed UTF-8 (shortest forms, no surrogates, at most U+10FFFF).
bool IsValidUtf8(std::string_view text);

// Reads the character at text[pos] and moves pos past it: true with its code point when
// it is well-formed UTF-8, false for a byte that starts no such character (pos then moves
// one byte on). pos must be below text.size().
bool NextUtf8Character(std::string_view text, std::size_t& pos, char32_t& codePoint);

// The Windows-1252 ("Western European", the usual ANSI code page) text of bytes, as UTF-8.
// The five bytes the code page leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) become
// the C1 controls of the same number, as Windows itself maps them.
std::string Windows1252ToUtf8(std::string_view bytes);

// Names in files written on Windows (project files) are in the writer's code page, not
// UTF-8. TextFromStoredBytes gives stored bytes as UTF-8 text: unchanged when they are
// valid UTF-8, else read as Windows-1252. StoredBytesForText is the way back for a save:
// when the bytes already in the file (previous) read as text, they are kept as they are,
// so a project saved without changing a name keeps that name's bytes; otherwise text.
std::string TextFromStoredBytes(std::string_view stored);
std::string StoredBytesForText(std::string_view text, std::string_view previous);

// ASCII lower- and upper-casing, used for the case-insensitive names of INI files and for
// the identifiers written on a disc: the same under every locale (a Turkish one would
// make "i" no capital at all), and every other byte is left as it is.
std::string ToLowerAscii(std::string_view text);
std::string ToUpperAscii(std::string_view text);
bool EqualsIgnoreCase(std::string_view a, std::string_view b);

// Removes spaces and tabs (and a stray carriage return) at both ends.
std::string_view TrimBlanks(std::string_view text);

// Text for a terminal or a one-line message: control characters (C0, DEL and the C1
// controls, which could recolour or rewrite the terminal) become visible escapes such
// as \n, \r, \t, \x1b or \u009b; a backslash stays as it is. Everything else is
// unchanged.
std::string EscapeControls(std::string_view text);

// printf-style formatting into a std::string. Numbers are written the "C" way whatever
// the process's locale (the graphics toolkit takes the user's at start): a decimal point,
// no grouping, so that JSON, summaries and file names read the same everywhere.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Writes text as a JSON string literal (quotes included): quotes, backslashes and
// control characters are escaped, and bytes that are not valid UTF-8 become U+FFFD so
// that the output is always valid JSON.
std::string JsonQuote(std::string_view text);

} // namespace lumivox
