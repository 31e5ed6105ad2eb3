// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The program's settings: read once from "config.ini" when the main window starts,
// held in one process-wide Settings object while the program runs, changed by the
// Options dialog, the burn page and the album editor, and written back when the main
// window closes.

#include <string>

namespace lumivox {

class AlbumTable;

// Writing modes of the CD recorder (the setting "driver").
enum WritingMode : int {
    kWritingModeAuto = 0, // "Auto Detected": the drive database chooses
    kWritingModeMmc = 1, // "SCSI-3 MMC"
    kWritingModeMmcRaw = 2, // "SCSI-3 MMC(Raw Mode)"
};

// Limits of the values the settings hold.
constexpr int kDefaultBurnSpeed = 2; // 4x in the burn page's speed list
constexpr int kMaxBurnSpeedIndex = 6; // "maximum"
constexpr int kDefaultWaitTime = 4;
constexpr int kMinDefaultWaitTime = 2; // the Options dialog's range
constexpr int kMaxDefaultWaitTime = 1200;
constexpr int kMaxListStyle = 4; // thumbnails, list, details, small, large icons
constexpr std::size_t kMaxTempDirBytes = 1023;
constexpr std::size_t kMaxTempFolderEditBytes = 255; // the Options dialog's edit
inline constexpr const char* kDefaultTemplatePath = "template/classic.ini";

// Where the settings come from.
struct SettingsLocations {
    std::string programFolder; // with a trailing "/"
    std::string configFile; // "config.ini"
    std::string defaultTempFolder; // with a trailing "/"; created by Load
    // The running program's locations (see base/Paths.h).
    static SettingsLocations ForThisProgram();
};

struct WindowPlacement {
    int maximized = 0;
    int x = 0;
    int y = 0;
    int width = 0; // 0 or less: no placement is restored
    int height = 0;
};

class Settings {
public:
    // "GENERAL"
    int recorder = 0; // index into the drive list
    int driver = kWritingModeAuto; // writing mode
    int burnSpeed = kDefaultBurnSpeed; // index into the burn page's speed list
    int simulate = 1; // kept and written back; nothing uses it
    int burnProof = 0;
    int useAspi = 0; // kept and written back; there is no ASPI here
    int pal = 0; // TV norm: 1 PAL, 0 NTSC
    std::string tempDir; // work folder, trailing "/"
    int waitTime = kDefaultWaitTime; // default wait time of new albums
    // "SquarePixelSlides": 1 fits slides as if the frame's pixels were square (the old
    // fitting); anything else fits them for the 4:3 television picture. Read only: the
    // program never writes it, so a user's key stays in the file as it was.
    int squarePixelSlides = 0;
    // "AutoOrient": anything but 0 gives a picture added in the editor the turn its EXIF
    // or TIFF orientation asks for as its initial rotation. Read only, like the above.
    int autoOrient = 1;
    // "SlideshowTrack": whether the disc's MPEG track shows the whole slideshow —
    // "auto" (when the disc has room), "always" or "never"; anything else is "auto".
    std::string slideshowTrack = "auto";
    // "Window"
    WindowPlacement window;
    int listStyle = 0;
    // Not stored in "config.ini".
    std::string programFolder;
    std::string templatePath = kDefaultTemplatePath; // relative to the program folder
    int itemsPerPage = 0; // "Items_count" of the current template

    // The settings of the running program.
    static Settings& Instance();

    bool IsPal() const { return pal != 0; }
    bool SquarePixelSlides() const { return squarePixelSlides == 1; }
    bool AutoOrient() const { return autoOrient != 0; }

    // Reads every key from the settings file (missing file or keys give the defaults)
    // in the documented order: creates the default temporary folder just before
    // "TempDir", and reads "Items_count" of the template between "TempDir" and
    // "WaitTime". Values no part of the program can use are replaced by their defaults:
    // a speed index outside 0..6, a wait time outside 2..1200, a list style outside
    // 0..4, an empty temporary folder. The temporary folder gets a trailing "/".
    // A settings file that exists but is not understood (it cannot be read, is no regular
    // file, is too large, is UTF-16 text) gives every default, and LoadWarning() says so.
    void Load(const SettingsLocations& locations);
    // Writes every key in the save order into configFile (its other contents kept),
    // creating its folder. False with *error naming the file when it cannot be written,
    // and when it is the file Load did not understand: that one is left as it is.
    bool Save(const std::string& configFile, std::string* error = nullptr) const;
    // Empty, or what the last Load could not read: the file and the reason, for the user
    // to be told (the desktop program at its start, the command line on standard error).
    const std::string& LoadWarning() const { return loadWarning_; }

    // At recorder set-up: a recorder index outside the driveCount drives found, or a
    // writing mode outside 0..2, becomes 0 (and is saved so).
    void ApplyRecorderSetup(int driveCount);

private:
    std::string loadWarning_;
    std::string notUnderstoodFile_; // the settings file Load could not read, if any
};

// What reading the settings file would warn of (see Settings::LoadWarning), or empty: for
// a program that reads single keys of it rather than Loading the whole.
std::string SettingsFileWarning(const std::string& configFile);

// What the user entered in the Options dialog.
struct OptionsValues {
    int waitTime = kDefaultWaitTime;
    std::string tempFolder;
    int writingMode = kWritingModeAuto;
    bool forceAspi = false;
};

// The dialog's validation: an empty text when the values can be accepted, else the
// message to show ("Please enter an integer between 2 and 1200." and the like).
std::string ValidateOptions(const OptionsValues& values);

// What accepting the Options dialog changed, so that the user interface can set up
// the recorders again or make a new recorder driver.
struct OptionsChanges {
    bool forceAspiChanged = false;
    bool writingModeChanged = false;
};

// Accepts validated Options values: stores the writing mode, the temporary folder
// (with a trailing "/" appended when it lacks one), the default wait time and the
// force-ASPI flag, and gives every album whose wait time equals the old default the
// new one. project may be null.
OptionsChanges AcceptOptions(Settings& settings, AlbumTable* project, const OptionsValues& values);

} // namespace lumivox
