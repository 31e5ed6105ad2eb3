// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Which recorder driver serves a drive: the "driver" setting, and in automatic mode the
// built-in lists of INQUIRY product identifications; and the write-speed table.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace lumivox {

enum class DriverKind { Mmc, Raw };
// The "driver" setting: 0 automatic, 1 session-at-once (MMC), 2 raw.
enum class DriverChoice { Auto = 0, Mmc = 1, Raw = 2 };

// A value outside 0-2 is automatic.
DriverChoice DriverChoiceFromSetting(int value);

class DriveDatabase {
public:
    static const DriveDatabase& Instance();
    // Compares the product identification (trailing blanks and tabs removed) whole and
    // case-sensitively with the first list, then the second, then the third; the third
    // list selects the raw driver, the others and no match the session-at-once driver.
    DriverKind LookupDriverKind(std::string_view product) const;
    // Names that select the raw driver (in the third list and no earlier one).
    std::size_t RawNameCount() const;

private:
    DriveDatabase();
    std::vector<std::vector<std::string_view>> lists_;
};

DriverKind LookupDriverKind(std::string_view product);
DriverKind ChooseDriverKind(DriverChoice choice, std::string_view product);
std::string_view TrimTrailingBlanks(std::string_view text);

// The "BurnSpeed" index 0-6 (1×, 2×, 4×, 8×, 12×, 24×, maximum); any other value is 0.
int SpeedIndexFromSetting(int value);
// SET CD SPEED write speed of an index: speed × 177 kB/s, 0xFFFF for the maximum.
std::uint16_t WriteSpeedOfIndex(int index);

} // namespace lumivox
