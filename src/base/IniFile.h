// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// INI files with the semantics of the Windows private-profile functions, which the
// settings file, the project files and the menu templates were designed around:
//
//   - "[section]" lines open a section; "key=value" lines belong to the section above
//     them; lines before the first section, blank lines, comments (";") and any other
//     line are kept but carry no key.
//   - Section and key names are compared without regard to ASCII letter case; blanks
//     around names and values are ignored; values are otherwise taken verbatim (no
//     quotes, no escapes). When a section or key occurs twice, the first one counts.
//   - Writing a key replaces its value in place; a new key is added at the end of its
//     section, a new section at the end of the file. Everything else in the file is kept.
//   - A missing file or key gives the caller's default.
//
// Files are read whole into memory, so a file over kMaxIniFileBytes is refused rather
// than read in part (and never overwritten, which would lose its tail). Saving writes a
// temporary file in the same folder and renames it over the old one, so a crash or a
// full disc never leaves a half-written settings or project file behind.

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace lumivox {

constexpr std::size_t kMaxIniFileBytes = 16u * 1024u * 1024u;
// A UTF-8 byte-order mark at the start of a file is skipped when reading and kept when
// the file is written back.
inline constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

enum class IniLoadStatus {
    Loaded, // the file was read
    Missing, // no such file: the contents are empty, every key gives its default
    TooLarge, // larger than kMaxIniFileBytes: refused
    Unreadable, // exists but could not be read (permissions, a folder, a device, UTF-16 text, ...)
};

class IniFile {
public:
    IniFile() = default;

    // Replaces the contents with the file at path. On anything but Loaded the contents
    // are empty; LastError() then names the reason.
    IniLoadStatus Load(const std::string& path);
    // Replaces the contents with text (the bytes of a file).
    void Parse(std::string_view text);

    // The value of key in section, or defaultValue when either is missing. The value
    // ends at the first NUL byte, as a C string would.
    std::string GetString(std::string_view section, std::string_view key, std::string_view defaultValue = {}) const;
    // The value read as a decimal integer the way the profile functions read it:
    // leading blanks, an optional sign, then digits; anything else ends the number, and
    // a value without digits reads as 0. Out-of-range values are held at the int limits.
    // A missing key or an empty value gives defaultValue.
    int GetInt(std::string_view section, std::string_view key, int defaultValue) const;
    bool HasKey(std::string_view section, std::string_view key) const;
    bool HasSection(std::string_view section) const;
    // The names of the file's sections, lower-cased, each once, in the file's order.
    std::vector<std::string> SectionNames() const;

    // Sets key in section to value (see the class comment for where it goes). Line
    // breaks and NUL bytes in value would split the line into keys of their own, so
    // they are written as spaces.
    void SetString(std::string_view section, std::string_view key, std::string_view value);
    void SetInt(std::string_view section, std::string_view key, int value);
    // Removes key from section (its first occurrence); nothing happens when missing.
    void DeleteKey(std::string_view section, std::string_view key);

    // The file's text. Lines end the way the loaded file's first line ended ("\r\n" or
    // "\n"); a new file uses "\n".
    std::string ToString() const;
    // Writes the contents to path through a temporary file and a rename. Returns false
    // with LastError() set when anything fails; the old file is then untouched. A file
    // that exists and is read-only is refused ("Cannot save <path>: the file is
    // read-only"), not replaced.
    bool Save(const std::string& path);

    const std::string& LastError() const { return error_; }

private:
    struct Line {
        std::string text; // the line as it stands in the file, without its line break
        std::string key; // lower-cased key when the line is "key=value", else empty
        bool hasKey = false;
    };
    struct Section {
        std::string lowerName; // empty for the lines before the first section
        std::vector<Line> lines; // lines[0] is the "[name]" line, except for the preamble
        std::unordered_map<std::string, std::size_t> firstKey; // lower key -> line
        void Reindex();
    };

    const Section* FindSection(std::string_view section) const;
    Section* FindSection(std::string_view section);
    const Line* FindLine(std::string_view section, std::string_view key) const;
    void AddLine(std::string_view text);

    std::vector<Section> sections_;
    std::unordered_map<std::string, std::size_t> firstSection_;
    bool crlf_ = false;
    bool bom_ = false; // the loaded text started with a UTF-8 byte-order mark
    std::string error_;
};

// The private-profile functions: each call reads the file, and each write saves it.
// For many keys at once, load an IniFile, change it and save it once.
std::string GetPrivateProfileString(std::string_view section, std::string_view key, std::string_view defaultValue,
                                    const std::string& path);
int GetPrivateProfileInt(std::string_view section, std::string_view key, int defaultValue, const std::string& path);
// Returns false when the file could not be read (other than missing) or written.
bool WritePrivateProfileString(std::string_view section, std::string_view key, std::string_view value,
                               const std::string& path);

} // namespace lumivox
