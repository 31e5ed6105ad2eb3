// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// PicReader: the front end of picture decoding. Identifies a file by its first bytes
// and size, decodes it with the matching decoder (bitmap, TIFF, JPEG, EPS with a TIFF
// preview, PNG, WebP, HEIF) and converts the result to the requested depth. One reader per thread.

#include "picture/PicBitmap.h"

#include <atomic>
#include <functional>
#include <memory>
#include <string>

namespace lumivox {

class MappedFile;

enum class DecodeMode {
    Full, // every file at its own size (menu, preview, production)
    Reduced, // pictures of at least 320 x 240 at one eighth (thumbnails, editor)
};

// What the first bytes of a file say it is, in the order the rules are tried.
enum class PicFormat {
    Bitmap, // Windows or OS/2 bitmap: decoded
    Targa, // refused
    Tiff, // decoded
    Gif, // refused
    Pict, // Macintosh picture: refused
    Jpeg, // decoded
    Png, // decoded
    EpsTiff, // EPS with a TIFF preview: the preview is decoded
    Pcx, // refused
    Pgm, // refused
    Ppm, // refused
    Photoshop, // refused
    Webp, // "RIFF" container of kind "WEBP": decoded
    Heif, // ISO base media file of a HEIF brand (HEIC photos): decoded
    Unknown,
};

struct PictureSize {
    int width = 0;
    int height = 0;
};

// What the picture decodes of this thread answer to while the scope lives: the run's
// cancel flag, looked at from within a decode (a JPEG of many scans takes long), so a
// cancelled run does not wait for the picture under way; and, for tests, a hook called
// at each of those looks. A cancelled decode throws PLTextException with kDecodeCancelled.
class DecodeWatchScope {
public:
    explicit DecodeWatchScope(const std::atomic<bool>* cancel, std::function<void()> onStep = {});
    ~DecodeWatchScope();
    DecodeWatchScope(const DecodeWatchScope&) = delete;
    DecodeWatchScope& operator=(const DecodeWatchScope&) = delete;
    // Called by decoders at their progress steps: runs the hook, and says whether the
    // decode is to stop.
    static bool StepCancelled();

private:
    const std::atomic<bool>* cancel_;
    std::function<void()> onStep_;
    DecodeWatchScope* outer_;
};
inline constexpr const char* kDecodeCancelled = "The decoding was cancelled.";

// Takes a picture's rows as its decoder hands them over, top row first, each as width
// blue, green, red, alpha pixels: a picture shown much smaller than it is then never
// needs its decoded size in memory at once.
class PicRowTarget {
public:
    virtual ~PicRowTarget() = default;
    // The decoded size, before the first row; hasAlpha as PicBitmap::HasAlpha.
    virtual void Begin(int width, int height, bool hasAlpha) = 0;
    // The next row; pixels are valid during the call only.
    virtual void Row(const std::uint8_t* pixels) = 0;
};

struct DecodeOptions;

// Hands the rows of a decoded 32-bit picture to target, as a decoder would.
void HandOverRows(const PicBitmap& picture, PicRowTarget& target);

class PicReader : public PLObject {
public:
    // Largest picture file read: far beyond any camera's or scanner's photo, well below
    // what several workers could hold at once. It is refused by its size, unread.
    static constexpr std::size_t kMaxPictureFileBytes = std::size_t(256) << 20;

    PicReader();
    ~PicReader() override;
    PicReader(const PicReader&) = delete;
    PicReader& operator=(const PicReader&) = delete;

    void SetMode(DecodeMode mode) { mode_ = mode; }
    DecodeMode Mode() const { return mode_; }

    // Decodes the file at path into target at bitsPerPixel (the program asks for 32).
    // Throws PLTextException on any failure; target is then unspecified.
    void DecodeFile(const std::string& path, PicBitmap& target, int bitsPerPixel = 32);
    // The same, handing the picture's rows to target as they are decoded (a JPEG never
    // holds its decoded size; other files are decoded whole first), at 32 bits.
    void DecodeFileRows(const std::string& path, PicRowTarget& target);
    void DecodeMemoryRows(const unsigned char* data, std::size_t size, PicRowTarget& target);
    // Checks that the file at path is a picture this reader decodes, without decoding the
    // image data of a JPEG, PNG, WebP or HEIF file (its header or container is read), and
    // gives its full size. Throws PLTextException as DecodeFile would for a file it
    // refuses; such a file whose data is damaged passes.
    PictureSize ProbeFile(const std::string& path);
    // The same for bytes already in memory (fuzzing, embedded data).
    void DecodeMemory(const unsigned char* data, std::size_t size, PicBitmap& target, int bitsPerPixel = 32);

    // Identifies a file from its first bytes (up to 512 of them are looked at) and its
    // size. A file shorter than a rule needs cannot match that rule.
    static PicFormat Identify(const unsigned char* data, std::size_t size);

    // Largest picture (width x height) this reader accepts; lower it where memory is
    // scarce (fuzzing). Never above PicBitmap::kMaxPixels.
    void SetMaxPixels(std::uint64_t maxPixels);
    // The largest size a decoded picture is shown at (a TV frame): a larger picture may
    // then be decoded smaller, though never below twice this size. 0 x 0: full size.
    void SetUsefulSize(int width, int height)
    {
        usefulWidth_ = width;
        usefulHeight_ = height;
    }

    // Reads the file at path into file, refusing it by its size before anything is read
    // and counting what is read against the decode budget (of the caller's
    // DecodeMemoryScope, which must stay open while the bytes are used).
    static void ReadPictureFile(const std::string& path, MappedFile& file);

private:
    DecodeOptions Options() const;
    DecodeMode mode_ = DecodeMode::Full;
    std::uint64_t maxPixels_ = PicBitmap::kMaxPixels;
    int usefulWidth_ = 0;
    int usefulHeight_ = 0;
    struct Decoders;
    std::unique_ptr<Decoders> decoders_;
};

} // namespace lumivox
