// SPDX-License-Identifier: GPL-2.0-or-later
#include "base/IniFile.h"
#include "base/SafeOutput.h"

#include "base/FileDescriptor.h"

#include "base/TextUtil.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace lumivox {

namespace {

// Splits a "key=value" line; false when the line carries no key.
bool SplitKeyLine(std::string_view line, std::string_view& key, std::string_view& value)
{
    const std::string_view trimmed = TrimBlanks(line);
    if (trimmed.empty() || trimmed.front() == '[' || trimmed.front() == ';')
        return false;
    const std::size_t equals = trimmed.find('=');
    if (equals == std::string_view::npos)
        return false;
    key = TrimBlanks(trimmed.substr(0, equals));
    value = TrimBlanks(trimmed.substr(equals + 1));
    return !key.empty();
}

// The name of a "[section]" line, or false when the line is no section line.
bool SectionName(std::string_view line, std::string_view& name)
{
    const std::string_view trimmed = TrimBlanks(line);
    if (trimmed.empty() || trimmed.front() != '[')
        return false;
    std::string_view inner = trimmed.substr(1);
    const std::size_t close = inner.find(']');
    if (close != std::string_view::npos)
        inner = inner.substr(0, close);
    name = TrimBlanks(inner);
    return true;
}

std::string CleanValue(std::string_view value)
{
    std::string clean(value);
    for (char& c : clean)
        if (c == '\n' || c == '\r' || c == '\0')
            c = ' ';
    return clean;
}

// Text in UTF-16 (what Windows' Notepad saves as "Unicode"): a byte-order mark, or the
// NUL byte beside each of the first characters that ASCII text in UTF-16 has. Read as
// bytes it would give no keys at all -- every value its default -- and a save would mix
// lines of another encoding into it.
bool IsUtf16Text(std::string_view text)
{
    if (text.size() >= 2 && ((text[0] == '\xFF' && text[1] == '\xFE') || (text[0] == '\xFE' && text[1] == '\xFF')))
        return true;
    return text.size() >= 4 && ((text[0] != 0 && text[1] == 0 && text[2] != 0 && text[3] == 0) ||
                                (text[0] == 0 && text[1] != 0 && text[2] == 0 && text[3] != 0));
}

std::string ErrnoText(const std::string& what, const std::string& path)
{
    return what + " " + path + ": " + std::strerror(errno);
}

} // namespace

void IniFile::Section::Reindex()
{
    firstKey.clear();
    for (std::size_t i = 0; i < lines.size(); ++i)
        if (lines[i].hasKey)
            firstKey.emplace(lines[i].key, i);
}

IniLoadStatus IniFile::Load(const std::string& path)
{
    Parse({});
    error_.clear();
    const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    const int fd = file.Get();
    if (fd < 0) {
        const bool missing = errno == ENOENT || errno == ENOTDIR;
        error_ = ErrnoText("Cannot open", path);
        return missing ? IniLoadStatus::Missing : IniLoadStatus::Unreadable;
    }
    struct stat info { };
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        error_ = "Cannot read " + path + ": not a regular file";
        return IniLoadStatus::Unreadable;
    }
    if (static_cast<unsigned long long>(info.st_size) > kMaxIniFileBytes) {
        error_ = "Cannot read " + path + ": the file is larger than " +
                 std::to_string(kMaxIniFileBytes / (1024 * 1024)) + " MiB";
        return IniLoadStatus::TooLarge;
    }
    std::string text;
    text.resize(static_cast<std::size_t>(info.st_size));
    std::size_t filled = 0;
    while (filled < text.size()) {
        const ssize_t got = ::read(fd, text.data() + filled, text.size() - filled);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            error_ = ErrnoText("Cannot read", path);
            return IniLoadStatus::Unreadable;
        }
        if (got == 0)
            break; // the file shrank meanwhile: take what is there
        filled += static_cast<std::size_t>(got);
    }
    text.resize(filled);
    if (IsUtf16Text(text)) {
        error_ = "Cannot read " + path + ": the file is in UTF-16; save it as UTF-8";
        return IniLoadStatus::Unreadable;
    }
    Parse(text);
    return IniLoadStatus::Loaded;
}

void IniFile::Parse(std::string_view text)
{
    sections_.clear();
    firstSection_.clear();
    // Editors on Windows start UTF-8 files with a byte-order mark; it would otherwise
    // become part of the first line and hide a "[GENERAL]" there. It is written back.
    bom_ = text.substr(0, kUtf8Bom.size()) == kUtf8Bom;
    if (bom_)
        text.remove_prefix(kUtf8Bom.size());
    sections_.emplace_back(); // the lines before the first section
    const std::size_t firstBreak = text.find('\n');
    crlf_ = firstBreak != std::string_view::npos && firstBreak > 0 && text[firstBreak - 1] == '\r';
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        AddLine(line);
        pos = end + 1;
    }
    for (Section& section : sections_)
        section.Reindex();
}

void IniFile::AddLine(std::string_view text)
{
    std::string_view name;
    if (SectionName(text, name)) {
        Section section;
        section.lowerName = ToLowerAscii(name);
        section.lines.push_back({std::string(text), {}, false});
        firstSection_.emplace(section.lowerName, sections_.size());
        sections_.push_back(std::move(section));
        return;
    }
    Line line{std::string(text), {}, false};
    std::string_view key, value;
    if (SplitKeyLine(text, key, value)) {
        line.key = ToLowerAscii(key);
        line.hasKey = true;
    }
    sections_.back().lines.push_back(std::move(line));
}

const IniFile::Section* IniFile::FindSection(std::string_view section) const
{
    const auto found = firstSection_.find(ToLowerAscii(TrimBlanks(section)));
    return found == firstSection_.end() ? nullptr : &sections_[found->second];
}

IniFile::Section* IniFile::FindSection(std::string_view section)
{
    const auto found = firstSection_.find(ToLowerAscii(TrimBlanks(section)));
    return found == firstSection_.end() ? nullptr : &sections_[found->second];
}

const IniFile::Line* IniFile::FindLine(std::string_view section, std::string_view key) const
{
    const Section* found = FindSection(section);
    if (!found)
        return nullptr;
    const auto line = found->firstKey.find(ToLowerAscii(TrimBlanks(key)));
    return line == found->firstKey.end() ? nullptr : &found->lines[line->second];
}

bool IniFile::HasSection(std::string_view section) const
{
    return FindSection(section) != nullptr;
}

std::vector<std::string> IniFile::SectionNames() const
{
    std::vector<std::string> names;
    for (std::size_t i = 0; i < sections_.size(); ++i) {
        const auto first = firstSection_.find(sections_[i].lowerName);
        if (first != firstSection_.end() && first->second == i && !(i == 0 && sections_[i].lowerName.empty()))
            names.push_back(sections_[i].lowerName);
    }
    return names;
}

bool IniFile::HasKey(std::string_view section, std::string_view key) const
{
    return FindLine(section, key) != nullptr;
}

std::string IniFile::GetString(std::string_view section, std::string_view key, std::string_view defaultValue) const
{
    const Line* line = FindLine(section, key);
    if (!line)
        return std::string(defaultValue);
    std::string_view name, value;
    SplitKeyLine(line->text, name, value);
    const std::size_t nul = value.find('\0');
    if (nul != std::string_view::npos)
        value = TrimBlanks(value.substr(0, nul));
    return std::string(value);
}

int IniFile::GetInt(std::string_view section, std::string_view key, int defaultValue) const
{
    const Line* line = FindLine(section, key);
    if (!line)
        return defaultValue;
    std::string_view name, value;
    SplitKeyLine(line->text, name, value);
    if (value.empty())
        return defaultValue;
    std::size_t pos = 0;
    bool negative = false;
    if (value[pos] == '-' || value[pos] == '+') {
        negative = value[pos] == '-';
        ++pos;
    }
    long long number = 0;
    for (; pos < value.size() && value[pos] >= '0' && value[pos] <= '9'; ++pos) {
        number = number * 10 + (value[pos] - '0');
        if (number > static_cast<long long>(INT_MAX) + 1)
            number = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative)
        number = -number;
    if (number > INT_MAX)
        number = INT_MAX;
    return static_cast<int>(number);
}

void IniFile::SetString(std::string_view section, std::string_view key, std::string_view value)
{
    section = TrimBlanks(section);
    key = TrimBlanks(key);
    const std::string clean = CleanValue(TrimBlanks(value));
    Section* target = FindSection(section);
    if (!target) {
        Section added;
        added.lowerName = ToLowerAscii(section);
        added.lines.push_back({"[" + std::string(section) + "]", {}, false});
        firstSection_.emplace(added.lowerName, sections_.size());
        sections_.push_back(std::move(added));
        target = &sections_.back();
    }
    const std::string lowerKey = ToLowerAscii(key);
    const auto existing = target->firstKey.find(lowerKey);
    if (existing != target->firstKey.end()) {
        Line& line = target->lines[existing->second];
        std::string_view oldKey, oldValue;
        SplitKeyLine(line.text, oldKey, oldValue);
        line.text = std::string(oldKey) + "=" + clean;
        return;
    }
    // A new key goes after the section's last key, so that blank lines and comments
    // that separate this section from the next one stay where they are.
    std::size_t insertAt = target->lines.empty() ? 0 : 1;
    for (std::size_t i = 0; i < target->lines.size(); ++i)
        if (target->lines[i].hasKey)
            insertAt = i + 1;
    if (insertAt > target->lines.size())
        insertAt = target->lines.size();
    target->lines.insert(target->lines.begin() + static_cast<std::ptrdiff_t>(insertAt),
                         Line{std::string(key) + "=" + clean, lowerKey, true});
    target->Reindex();
}

void IniFile::SetInt(std::string_view section, std::string_view key, int value)
{
    SetString(section, key, std::to_string(value));
}

void IniFile::DeleteKey(std::string_view section, std::string_view key)
{
    Section* target = FindSection(section);
    if (!target)
        return;
    const auto existing = target->firstKey.find(ToLowerAscii(TrimBlanks(key)));
    if (existing == target->firstKey.end())
        return;
    target->lines.erase(target->lines.begin() + static_cast<std::ptrdiff_t>(existing->second));
    target->Reindex();
}

std::string IniFile::ToString() const
{
    const char* lineEnd = crlf_ ? "\r\n" : "\n";
    std::string text(bom_ ? kUtf8Bom : std::string_view());
    for (const Section& section : sections_)
        for (const Line& line : section.lines) {
            text += line.text;
            text += lineEnd;
        }
    return text;
}

bool IniFile::Save(const std::string& path)
{
    namespace fs = std::filesystem;
    error_.clear();
    // Write through a symbolic link to the file it names rather than replacing the link
    // (a settings file kept elsewhere and linked in) -- but only through a link of the
    // user's own: another user's link in a shared folder must not steer the save.
    std::string target = path;
    std::error_code ec;
    struct stat link { };
    if (::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode) && link.st_uid == ::geteuid()) {
        const fs::path resolved = fs::weakly_canonical(path, ec);
        if (!ec)
            target = resolved.string();
    }
    mode_t mode = 0;
    struct stat old { };
    if (::stat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode)) {
        mode = old.st_mode & 07777;
        // The rename below would replace a read-only file as if it were writable: its
        // owner made it read-only to keep it as it is. (No write bit at all also stops
        // the superuser, for whom access() allows everything.)
        if (::access(target.c_str(), W_OK) != 0 || (mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
            error_ = "Cannot save " + target + ": the file is read-only";
            return false;
        }
    }

    SafeOutput output;
    if (!output.Open(target, &error_))
        return false;
    // The new file keeps the old one's permissions (a new one gets the umask's); failing
    // to set them is not worth failing the save for.
    if (mode != 0)
        (void)::fchmod(output.Descriptor(), mode);
    if (!output.Write(ToString(), &error_) || !output.Commit(&error_))
        return false;
    return true;
}

std::string GetPrivateProfileString(std::string_view section, std::string_view key, std::string_view defaultValue,
                                    const std::string& path)
{
    IniFile file;
    file.Load(path);
    return file.GetString(section, key, defaultValue);
}

int GetPrivateProfileInt(std::string_view section, std::string_view key, int defaultValue, const std::string& path)
{
    IniFile file;
    file.Load(path);
    return file.GetInt(section, key, defaultValue);
}

bool WritePrivateProfileString(std::string_view section, std::string_view key, std::string_view value,
                               const std::string& path)
{
    IniFile file;
    const IniLoadStatus status = file.Load(path);
    if (status != IniLoadStatus::Loaded && status != IniLoadStatus::Missing)
        return false;
    file.SetString(section, key, value);
    return file.Save(path);
}

} // namespace lumivox
