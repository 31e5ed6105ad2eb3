// SPDX-License-Identifier: GPL-2.0-or-later
#include "recorder/DriveDatabase.h"

namespace lumivox {
namespace {

// Recorders that write a Video CD in session-at-once mode from a cue sheet. Only a few of
// the known names are kept: a product on no list gets the same driver.
const char* const kSessionAtOnceFirst[] = {
    "CD-RW  CW-7585     ",
    "CD-R   PX-W4220T   ",
    "CRW2100E           ",
    "LTR-12102C              ",
    "CDRW 4432",
    "CDRW-4420",
    "",
};
const char* const kSessionAtOnceSecond[] = {
    "CRW2100E CRW2100EZ        ", "ARW4420S                  ", "CDRW 4432", "CDRW-4420", "",
};
// Recorders whose session-at-once firmware cannot be trusted with a Video CD: the host
// writes lead-in, sub-channel and lead-out itself. "CDRW 4432" and "CDRW-4420" stand
// here too but are found in the lists above first.
const char* const kRaw[] = {
    "CELERUS",
    "CD-R/RW 16X10X40",
    "CD-R/RW 16X8X40",
    "CD-R/RW 16X10X32",
    "CD-R/RW 16X8X32",
    "CW028D CD-R/RW",
    "MZ-R5040U",
    "BCE1032IE",
    "BCE128IE",
    "IDE1032",
    "IDE128 RW8436E",
    "CD-R/RW RX-E1622",
    "ARW-4420",
    "ARW-4420s",
    "ARW-4424P",
    "ACW-260",
    "RW6220BI",
    "BCE242IE",
    "BCE 62*",
    "RW6220BT",
    "2W24R",
    "CDRW602*",
    "CDE6121",
    "ODR6121",
    "ODE-6121*",
    "ODE-8141*",
    "ODR-6121*",
    "ODE6121 CDR6121",
    "CR-622",
    "CRW-1622",
    "CDRW-2224",
    "CD-R/RW 2X2X6",
    "CD-Writer 6020RW",
    "CD-Writer+ 7100",
    "CD-Writer+ 7200",
    "CD-Writer+ 7110",
    "DEVELOPMENT - 97",
    "VersaWriter 3100",
    "ReWritable-2x2x6",
    "ReWritable-2x2x24",
    "R/RW 2x2x24",
    "R/RW 4x2x24",
    "R/RW 4x4x24",
    "R/RW 4x4x30",
    "R/RW 4x4x32",
    "R/RW 8x4x32",
    "SOCRATES",
    "ZIPCD",
    "ZIPCD 650",
    "ZIPCD 4x650",
    "JCD-62RW",
    "CDRW-622",
    "JCD-62R     E1",
    "XR-R2060",
    "CDD-3620",
    "MSJ-6122",
    "CR-622*",
    "CRW-1622*",
    "CDRW226I*",
    "CR-4803TE",
    "CR-4804TE",
    "CR-4804TU*",
    "MCR-265",
    "RW260*",
    "SOCRATES*",
    "4220 CDRW",
    "4424 CDRW",
    "CDD3600*",
    "CDD3610*",
    "CDD3801*",
    "CDD3801 CD-R/RW",
    "CDD3814",
    "CDD4201 CD-R/RW",
    "PCA267CR*",
    "PCA382RW IDE",
    "PCA350RW*",
    "PCA362RW*",
    "PCA363RW*",
    "PCRW404",
    "PCRW406",
    "PCRW4",
    "CD-R/RW SW-204B",
    "CD-R/RW SW-204F",
    "CD-R/RW SCW-230",
    "CD-R/RW SCW-430",
    "CD-R/RW SW-208B",
    "COMBO SM-304B",
    "COMBO SM-304F",
    "CDRW2224 Plus",
    "CRW2260 PRO",
    " CDRW2260+",
    "CDRW4424 PLUS",
    "CDRW4432 PLUS",
    "CDRW62D",
    "CDR-R/W VCW-620",
    "WT2036",
    "WT2036EI",
    "WT2422EI",
    "WT3244EI",
    "WT3284EI",
    "CDR-622*",
    "CDR-632*",
    "CDRW-2422",
    "CDRW 4424",
    "CDRW-4424",
    "CDRW-4432",
    "ARW4424P",
    "ARW4432P",
    "G44A24",
    "G44A32",
    "G44P24",
    "G44P32",
    "XS4424",
    "XS4432",
    "CWO43D CD-R/RW",
    "IDE2X2X24",
    "IDE4X4X24",
    "IDE4X4X32",
    "BCE424IE",
    "CD-REWRITER-4E",
    "CD-R/RW 4X4X24",
    "CD-R/RW 4X2X24",
    "CD-R/RW 8X4X32",
    "CD-R/RW 8X4X32A",
    "XS 4424",
    "CD-Writer+ 8000",
    "CR-4803TE USB",
    "CR-4804TE USB",
    "CRW-4804TE*",
    "4220 CDRW USB",
    "4424 CDRW USB",
    "ZIPCD 650 USB",
    "MINICDRW XS4432",
    "MiniCDRW XS8432",
    "MiniCDRW XS4424",
    "CD-R/RW 4X4X6",
    "CD-R/RW 6X4X32",
    "CD-R/RW 8X4X30",
    "CD-R/RW 8X4X24",
    "CD-R/RW CRW6206A",
    "FRISBY FASTFRISBY",
    "MINICDRW XS4424",
    "PCRW 406",
    "PCRW 404",
    "PCRW 804",
    "PCRW 506",
    "CD-R/RW 6X4X30",
    "CD-R/RW 4X2X6",
    "CD-R/RW 2X2X6*",
    "CD-R/RW SW-204",
    "PCRW804",
    "CDD4801 CD-R/RW",
    "Taeil CDE-4432",
    "WT2444EI",
    "IDE4x4x24",
    "IDE4x4x32",
    "IDE8x4x32",
    "BCE832IE",
    "CDRW-12832",
    "IDE8x4x40",
    "BCE840IE",
    "BCE833IE",
    "BCE324IE BCE3224IE",
    "SHUTTLE",
    "CDRW-S4432",
    "ARW4424E",
    "ZIPCD1024INT-A",
    "CW043D CD-R/RW",
    "CDD4401 CD-R/RW",
    "CD-R/RW 2X2X24",
    "CD-R/RW 2X2X30",
    "CD-R/RW 2X2X32",
    "CD-R/RW CRW4432A",
    "CD-R/RW 4X4X32",
    "CD-R/RW CRW6224A",
    "CD-R/RW CRW 6230A",
    "CD-R/RW CRW 6232A",
    "CD-R/RW CRW6232A",
    "CD-R/RW CRW4424A",
    "CD-R/RW CRW4230A",
    "CD-R/RW CRW4430A",
    "CD-R/RW CRW6430A",
    "CD-R/RW CRW6432A",
    "CD-R/RW CRW8424A",
    "CD-R/RW CRW8430A",
    "CD-R/RW CRW4234A",
    "CD-R/RW CRW9832A",
    "CD-R/RW 4X2X32",
    "CD-R/RW CRW4232A",
    "CD-R/RW 4X4X30",
    "CD-R/RW 4X2X30",
    "4X4X24 CDRW EXT",
    "ARW8432E",
    "ARW8432P",
    "CD-R/RW 6X4X24",
    "CD-R/RW 6X4X24X",
    "CD-R/RW SCW-081",
    "CD-RW RW4426U",
    "CD-RW RW8424U",
    "CD-Writer+9100ei",
    "CW017D CD-R/RW",
    "CW018D CD-R/RW",
    "IDE8432",
    "MiniCDRW RW4426U",
    "ZIPCD1024EXT",
    "CD-R/RW 10X8X32",
    "CD-R/RW 12X8X32",
    "CDD4851 CD-R/RW",
    "PCRW1208",
    "TwelveMAXX1032",
    "CD-R/RW 10X4X32",
    "CD-R/RW 12X4X32",
    "CD-R/RW 12X4X40",
    "R/RW 12x8x32",
    "CDRW8432 PLUS",
    "CD-R/RW CRW8432A",
    "CD-R/RW CRW8432",
    "CDRW-8432i",
    "RAPTOR RED",
    "BCE 62IE*",
    "CD-R/RW 6X4X6",
    "R/RW 12x10",
    "SAURUS",
    "CD-R/RW SW-212F",
    "CD-R/RW SW-216F",
    "CD-R/RW SW-220B",
    "PCRW1208MR",
    "BCE1610IM",
    "IDE1610",
    "CD-R/RW 16X10",
    "CD-R/RW 20X10",
    "BCE2410IM",
    "IDE2410",
    "CD-Writer+ 8290",
    "CD-Writer+ 9600",
    "CDRW 4432",
    "CDRW-4420",
    "",
};

} // namespace

std::string_view TrimTrailingBlanks(std::string_view text)
{
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

DriveDatabase::DriveDatabase()
{
    for (const char* const* list : {kSessionAtOnceFirst, kSessionAtOnceSecond, kRaw}) {
        std::vector<std::string_view> names;
        for (const char* const* name = list; **name; ++name)
            names.push_back(TrimTrailingBlanks(*name));
        lists_.push_back(std::move(names));
    }
}

const DriveDatabase& DriveDatabase::Instance()
{
    static const DriveDatabase database;
    return database;
}

DriverKind DriveDatabase::LookupDriverKind(std::string_view product) const
{
    product = TrimTrailingBlanks(product);
    for (std::size_t list = 0; list < lists_.size(); ++list)
        for (std::string_view name : lists_[list])
            if (name == product)
                return list == 2 ? DriverKind::Raw : DriverKind::Mmc;
    return DriverKind::Mmc;
}

std::size_t DriveDatabase::RawNameCount() const
{
    std::size_t count = 0;
    for (std::string_view name : lists_[2]) {
        bool earlier = false;
        for (std::size_t list = 0; list < 2 && !earlier; ++list)
            for (std::string_view other : lists_[list])
                earlier = earlier || other == name;
        if (!earlier)
            ++count;
    }
    return count;
}

DriverKind LookupDriverKind(std::string_view product)
{
    return DriveDatabase::Instance().LookupDriverKind(product);
}

DriverChoice DriverChoiceFromSetting(int value)
{
    return value == 1 ? DriverChoice::Mmc : value == 2 ? DriverChoice::Raw : DriverChoice::Auto;
}

DriverKind ChooseDriverKind(DriverChoice choice, std::string_view product)
{
    switch (choice) {
    case DriverChoice::Mmc:
        return DriverKind::Mmc;
    case DriverChoice::Raw:
        return DriverKind::Raw;
    case DriverChoice::Auto:
        break;
    }
    return LookupDriverKind(product);
}

int SpeedIndexFromSetting(int value)
{
    return value >= 0 && value <= 6 ? value : 0;
}

std::uint16_t WriteSpeedOfIndex(int index)
{
    static const int kSpeeds[] = {1, 2, 4, 8, 12, 24};
    index = SpeedIndexFromSetting(index);
    if (index == 6)
        return 0xFFFF; // the drive's maximum
    return static_cast<std::uint16_t>(kSpeeds[index] * 177);
}

} // namespace lumivox
