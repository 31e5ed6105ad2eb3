// SPDX-License-Identifier: GPL-2.0-or-later
#include "picture/ColorProfile.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>

#include <lcms2.h>

namespace lumivox {

namespace {

// Profiles larger than this are not believed (real ones are a few kilobytes; camera
// profiles with lookup tables stay well below a megabyte).
constexpr std::size_t kMaxProfileSize = 4u << 20;
// Distinct profiles remembered; a folder of photos holds a handful at most.
constexpr std::size_t kMaxCachedProfiles = 32;

struct TransformCloser {
    void operator()(void* t) const
    {
        if (t)
            cmsDeleteTransform(static_cast<cmsHTRANSFORM>(t));
    }
};
using Transform = std::unique_ptr<void, TransformCloser>;

struct ProfileCloser {
    void operator()(void* p) const
    {
        if (p)
            cmsCloseProfile(static_cast<cmsHPROFILE>(p));
    }
};
using Profile = std::unique_ptr<void, ProfileCloser>;

// What one input profile turns into: a transform for its colour space. Transforms are
// made without the one-pixel cache, so that threads may share them.
struct Entry {
    cmsColorSpaceSignature space = cmsSigRgbData;
    bool usable = false;
    Transform rgb; // BGRA -> BGRA
    std::array<std::uint8_t, 256 * 3> grey{}; // grey level -> blue, green, red
    Transform cmyk; // CMYK (ink) -> BGRA
    Transform cmykInverted; // CMYK (255 = no ink) -> BGRA
};

void IgnoreErrors(cmsContext, cmsUInt32Number, const char*)
{ }

std::shared_ptr<const Entry> MakeEntry(cmsHPROFILE input)
{
    auto entry = std::make_shared<Entry>();
    if (input == nullptr)
        return entry;
    Profile srgb(cmsCreate_sRGBProfile());
    const cmsUInt32Number flags = cmsFLAGS_NOCACHE | cmsFLAGS_COPY_ALPHA;
    entry->space = cmsGetColorSpace(input);
    switch (entry->space) {
    case cmsSigRgbData:
        entry->rgb.reset(cmsCreateTransform(input, TYPE_BGRA_8, srgb.get(), TYPE_BGRA_8, INTENT_PERCEPTUAL, flags));
        entry->usable = entry->rgb != nullptr;
        break;
    case cmsSigGrayData: {
        Transform grey(cmsCreateTransform(input, TYPE_GRAY_8, srgb.get(), TYPE_BGR_8, INTENT_PERCEPTUAL, flags));
        if (!grey)
            break;
        std::array<std::uint8_t, 256> levels{};
        for (int i = 0; i < 256; ++i)
            levels[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
        cmsDoTransform(grey.get(), levels.data(), entry->grey.data(), 256);
        entry->usable = true;
        break;
    }
    case cmsSigCmykData:
        entry->cmyk.reset(
            cmsCreateTransform(input, TYPE_CMYK_8, srgb.get(), TYPE_BGRA_8, INTENT_PERCEPTUAL, cmsFLAGS_NOCACHE));
        entry->cmykInverted.reset(
            cmsCreateTransform(input, TYPE_CMYK_8_REV, srgb.get(), TYPE_BGRA_8, INTENT_PERCEPTUAL, cmsFLAGS_NOCACHE));
        entry->usable = entry->cmyk != nullptr && entry->cmykInverted != nullptr;
        break;
    default:
        break;
    }
    return entry;
}

class Cache {
public:
    // The entry for key, made by make(profile) the first time it is asked for.
    template <class OpenProfile>
    std::shared_ptr<const Entry> Get(const std::string& key, OpenProfile&& open)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto found = entries_.find(key);
        if (found != entries_.end())
            return found->second;
        std::call_once(logOnce_, [] { cmsSetLogErrorHandler(IgnoreErrors); });
        Profile input(open());
        auto entry = MakeEntry(static_cast<cmsHPROFILE>(input.get()));
        // Entries in use elsewhere live on through their shared pointers.
        if (entries_.size() >= kMaxCachedProfiles)
            entries_.clear();
        entries_.emplace(key, entry);
        return entry;
    }

private:
    std::mutex mutex_;
    std::once_flag logOnce_;
    std::map<std::string, std::shared_ptr<const Entry>> entries_;
};

Cache& TheCache()
{
    static Cache cache;
    return cache;
}

std::shared_ptr<const Entry> EntryForIcc(const std::uint8_t* icc, std::size_t size)
{
    if (icc == nullptr || size < 128 || size > kMaxProfileSize)
        return nullptr;
    std::string key("icc:");
    key.append(reinterpret_cast<const char*>(icc), size);
    return TheCache().Get(key, [&] { return cmsOpenProfileFromMem(icc, static_cast<cmsUInt32Number>(size)); });
}

void ApplyToRow(const Entry& entry, std::uint8_t* row, int width)
{
    if (entry.space == cmsSigRgbData) {
        cmsDoTransform(entry.rgb.get(), row, row, static_cast<cmsUInt32Number>(width));
    } else if (entry.space == cmsSigGrayData) {
        for (int x = 0; x < width; ++x) {
            const std::uint8_t* bgr = &entry.grey[row[4 * x + 1] * 3u];
            row[4 * x + 0] = bgr[0];
            row[4 * x + 1] = bgr[1];
            row[4 * x + 2] = bgr[2];
        }
    }
}

void Apply(PicBitmap& bitmap, const Entry& entry)
{
    if (!entry.usable)
        return;
    if (bitmap.BitsPerPixel() == 32) {
        for (int y = 0; y < bitmap.Height(); ++y)
            ApplyToRow(entry, bitmap.Row(y), bitmap.Width());
        return;
    }
    // Palette entries are blue, green, red, 255 like a row's pixels.
    std::uint8_t* pal = bitmap.Palette();
    const int entries = bitmap.PaletteEntries();
    if (pal != nullptr && entries > 0)
        ApplyToRow(entry, pal, entries);
}

// Chromaticities (x, y) of red, green, blue and white for the ITU-T H.273 colour
// primaries code points whose gamut differs from sRGB's.
struct Primaries {
    int code;
    double rx, ry, gx, gy, bx, by, wx, wy;
};
constexpr Primaries kPrimaries[] = {
    {4, 0.67, 0.33, 0.21, 0.71, 0.14, 0.08, 0.310, 0.316}, // BT.470 M
    {5, 0.64, 0.33, 0.29, 0.60, 0.15, 0.06, 0.3127, 0.3290}, // BT.470 B, G (PAL)
    {6, 0.630, 0.340, 0.310, 0.595, 0.155, 0.070, 0.3127, 0.3290}, // SMPTE 170M
    {7, 0.630, 0.340, 0.310, 0.595, 0.155, 0.070, 0.3127, 0.3290}, // SMPTE 240M
    {9, 0.708, 0.292, 0.170, 0.797, 0.131, 0.046, 0.3127, 0.3290}, // BT.2020
    {11, 0.680, 0.320, 0.265, 0.690, 0.150, 0.060, 0.314, 0.351}, // DCI-P3
    {12, 0.680, 0.320, 0.265, 0.690, 0.150, 0.060, 0.3127, 0.3290}, // Display P3
};

cmsHPROFILE OpenNclxProfile(const Primaries& p, int transfer)
{
    // Transfer curves as ICC parametric type 4: Y = (aX + b)^g above d, cX below.
    cmsFloat64Number params[5] = {2.4, 1.0 / 1.055, 0.055 / 1.055, 1.0 / 12.92, 0.04045}; // sRGB
    cmsInt32Number type = 4;
    if (transfer == 1 || transfer == 6 || transfer == 14 || transfer == 15) {
        const cmsFloat64Number bt709[5] = {1.0 / 0.45, 1.0 / 1.099, 0.099 / 1.099, 1.0 / 4.5, 0.081};
        std::copy(std::begin(bt709), std::end(bt709), params);
    } else if (transfer == 4 || transfer == 5 || transfer == 8) {
        type = 1;
        params[0] = transfer == 4 ? 2.2 : transfer == 5 ? 2.8 : 1.0;
    }
    cmsToneCurve* curve = cmsBuildParametricToneCurve(nullptr, type, params);
    if (curve == nullptr)
        return nullptr;
    cmsToneCurve* curves[3] = {curve, curve, curve};
    const cmsCIExyY white = {p.wx, p.wy, 1.0};
    const cmsCIExyYTRIPLE primaries = {{p.rx, p.ry, 1.0}, {p.gx, p.gy, 1.0}, {p.bx, p.by, 1.0}};
    cmsHPROFILE profile = cmsCreateRGBProfile(&white, &primaries, curves);
    cmsFreeToneCurve(curve);
    return profile;
}

} // namespace

void ConvertToSrgb(PicBitmap& bitmap, const std::uint8_t* icc, std::size_t size)
{
    if (auto entry = EntryForIcc(icc, size))
        Apply(bitmap, *entry);
}

SrgbRows::SrgbRows(const std::uint8_t* icc, std::size_t size)
{
    auto entry = EntryForIcc(icc, size);
    if (entry && entry->usable && (entry->space == cmsSigRgbData || entry->space == cmsSigGrayData))
        entry_ = std::move(entry);
}

void SrgbRows::Convert(std::uint8_t* bgra, int width) const
{
    if (entry_ && width > 0)
        ApplyToRow(*static_cast<const Entry*>(entry_.get()), bgra, width);
}

bool IsCmykProfile(const std::uint8_t* icc, std::size_t size)
{
    auto entry = EntryForIcc(icc, size);
    return entry && entry->usable && entry->space == cmsSigCmykData;
}

bool CmykRowToSrgb(const std::uint8_t* icc, std::size_t size, const std::uint8_t* cmyk, std::uint8_t* bgra, int width,
                   bool inverted)
{
    auto entry = EntryForIcc(icc, size);
    if (!entry || !entry->usable || entry->space != cmsSigCmykData || width <= 0)
        return false;
    cmsDoTransform(inverted ? entry->cmykInverted.get() : entry->cmyk.get(), cmyk, bgra,
                   static_cast<cmsUInt32Number>(width));
    // The output alpha byte is not written by a transform from four channels.
    for (int x = 0; x < width; ++x)
        bgra[4 * x + 3] = 255;
    return true;
}

void ConvertNclxToSrgb(PicBitmap& bitmap, int colourPrimaries, int transferCharacteristics)
{
    const Primaries* found = nullptr;
    for (const Primaries& p : kPrimaries)
        if (p.code == colourPrimaries)
            found = &p;
    if (found == nullptr)
        return;
    const std::string key = "nclx:" + std::to_string(colourPrimaries) + ":" + std::to_string(transferCharacteristics);
    auto entry = TheCache().Get(key, [&] { return OpenNclxProfile(*found, transferCharacteristics); });
    Apply(bitmap, *entry);
}

} // namespace lumivox
