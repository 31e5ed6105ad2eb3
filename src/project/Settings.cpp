// SPDX-License-Identifier: GPL-2.0-or-later
#include "project/Settings.h"

#include "base/CoreText.h"

#include "base/IniFile.h"
#include "base/Paths.h"
#include "base/TextUtil.h"
#include "project/AlbumTable.h"

#include <filesystem>

namespace lumivox {

namespace {

constexpr const char* kGeneral = "GENERAL";
constexpr const char* kWindow = "Window";
constexpr const char* kTemplateSection = "General";
constexpr const char* kItemsCountKey = "Items_count";

int InRangeOr(int value, int low, int high, int fallback)
{
    return value < low || value > high ? fallback : value;
}

// The warning for a settings file that exists but was not read; empty for one that was
// read or is missing (a fresh installation).
std::string NotReadWarning(const IniFile& config, IniLoadStatus status)
{
    if (status == IniLoadStatus::Loaded || status == IniLoadStatus::Missing)
        return {};
    return config.LastError() + " (the default settings are used; the file is left as it is)";
}

} // namespace

SettingsLocations SettingsLocations::ForThisProgram()
{
    return {ProgramFolder(), ConfigFilePath(), DefaultTempFolder()};
}

Settings& Settings::Instance()
{
    static Settings settings;
    return settings;
}

void Settings::Load(const SettingsLocations& locations)
{
    programFolder = WithTrailingSlash(locations.programFolder);
    IniFile config;
    loadWarning_ = NotReadWarning(config, config.Load(locations.configFile));
    notUnderstoodFile_ = loadWarning_.empty() ? std::string() : locations.configFile;

    recorder = config.GetInt(kGeneral, "recorder", 0);
    driver = config.GetInt(kGeneral, "driver", kWritingModeAuto);
    burnSpeed =
        InRangeOr(config.GetInt(kGeneral, "BurnSpeed", kDefaultBurnSpeed), 0, kMaxBurnSpeedIndex, kDefaultBurnSpeed);
    simulate = config.GetInt(kGeneral, "bSimulate", 1);
    burnProof = config.GetInt(kGeneral, "BurnProof", 0);
    useAspi = config.GetInt(kGeneral, "UseASPI", 0);
    pal = config.GetInt(kGeneral, "PAL", 0);
    squarePixelSlides = config.GetInt(kGeneral, "SquarePixelSlides", 0) == 1 ? 1 : 0;
    autoOrient = config.GetInt(kGeneral, "AutoOrient", 1) != 0 ? 1 : 0;
    slideshowTrack = config.GetString(kGeneral, "SlideshowTrack", "auto");
    if (slideshowTrack != "always" && slideshowTrack != "never")
        slideshowTrack = "auto";

    // The default work folder is made at every start, whether or not "TempDir" points
    // elsewhere; another folder is never created (production reports it instead).
    const std::string defaultTemp = WithTrailingSlash(locations.defaultTempFolder);
    CreateFolder(defaultTemp);
    tempDir = CutUtf8(config.GetString(kGeneral, "TempDir", defaultTemp), kMaxTempDirBytes);
    tempDir = tempDir.empty() ? defaultTemp : WithTrailingSlash(tempDir);

    templatePath = kDefaultTemplatePath;
    IniFile templateFile;
    templateFile.Load(programFolder + templatePath);
    itemsPerPage = templateFile.GetInt(kTemplateSection, kItemsCountKey, 0);

    waitTime = InRangeOr(config.GetInt(kGeneral, "WaitTime", kDefaultWaitTime), kMinDefaultWaitTime,
                         kMaxDefaultWaitTime, kDefaultWaitTime);

    window.maximized = config.GetInt(kWindow, "bMaximized", 0);
    window.x = config.GetInt(kWindow, "x", 0);
    window.y = config.GetInt(kWindow, "y", 0);
    window.width = config.GetInt(kWindow, "width", 0);
    window.height = config.GetInt(kWindow, "height", 0);
    listStyle = InRangeOr(config.GetInt(kWindow, "ListStyle", 0), 0, kMaxListStyle, 0);
}

bool Settings::Save(const std::string& configFile, std::string* error) const
{
    // Defaults written into a file the user made and the program could not read would
    // replace what the user meant (the file may have been put right meanwhile, too).
    if (!notUnderstoodFile_.empty() && configFile == notUnderstoodFile_) {
        if (error)
            *error =
                "Cannot save " + configFile + ": it could not be read when the program started, and is left as it is";
        return false;
    }
    const std::filesystem::path folder = std::filesystem::path(configFile).parent_path();
    if (!folder.empty())
        CreateFolder(folder.string());
    IniFile config;
    const IniLoadStatus status = config.Load(configFile);
    if (status != IniLoadStatus::Loaded && status != IniLoadStatus::Missing) {
        if (error)
            *error = config.LastError();
        return false;
    }
    config.SetInt(kGeneral, "recorder", recorder);
    config.SetInt(kGeneral, "driver", driver);
    config.SetInt(kGeneral, "BurnSpeed", burnSpeed);
    config.SetInt(kGeneral, "bSimulate", simulate);
    config.SetInt(kGeneral, "BurnProof", burnProof);
    config.SetInt(kGeneral, "PAL", pal);
    config.SetInt(kGeneral, "UseASPI", useAspi);
    config.SetString(kGeneral, "TempDir", tempDir);
    config.SetInt(kGeneral, "WaitTime", waitTime);
    // The default is not written into a file that never had the key.
    if (slideshowTrack != "auto" || config.HasKey(kGeneral, "SlideshowTrack"))
        config.SetString(kGeneral, "SlideshowTrack", slideshowTrack);
    config.SetInt(kWindow, "bMaximized", window.maximized);
    config.SetInt(kWindow, "x", window.x);
    config.SetInt(kWindow, "y", window.y);
    config.SetInt(kWindow, "width", window.width);
    config.SetInt(kWindow, "height", window.height);
    config.SetInt(kWindow, "ListStyle", listStyle);
    if (!config.Save(configFile)) {
        if (error)
            *error = config.LastError();
        return false;
    }
    return true;
}

std::string SettingsFileWarning(const std::string& configFile)
{
    IniFile config;
    return NotReadWarning(config, config.Load(configFile));
}

void Settings::ApplyRecorderSetup(int driveCount)
{
    if (recorder < 0 || recorder >= driveCount)
        recorder = 0;
    if (driver < kWritingModeAuto || driver > kWritingModeMmcRaw)
        driver = kWritingModeAuto;
}

std::string ValidateOptions(const OptionsValues& values)
{
    if (values.waitTime < kMinDefaultWaitTime || values.waitTime > kMaxDefaultWaitTime)
        return Format("Please enter an integer between %d and %d.", kMinDefaultWaitTime, kMaxDefaultWaitTime);
    if (values.tempFolder.size() > kMaxTempFolderEditBytes)
        return Format("Please enter no more than %zu characters.", kMaxTempFolderEditBytes);
    if (values.tempFolder.empty())
        return QT_TRANSLATE_NOOP("lumivox::core", "Please enter a temporary folder.");
    if (values.writingMode < kWritingModeAuto || values.writingMode > kWritingModeMmcRaw)
        return QT_TRANSLATE_NOOP("lumivox::core", "Please select a writing mode.");
    return {};
}

OptionsChanges AcceptOptions(Settings& settings, AlbumTable* project, const OptionsValues& values)
{
    OptionsChanges changes;
    changes.writingModeChanged = settings.driver != values.writingMode;
    changes.forceAspiChanged = (settings.useAspi != 0) != values.forceAspi;
    const int oldWaitTime = settings.waitTime;
    settings.driver = values.writingMode;
    settings.tempDir = WithTrailingSlash(values.tempFolder);
    settings.waitTime = values.waitTime;
    settings.useAspi = values.forceAspi ? 1 : 0;
    if (project)
        project->ApplyDefaultWaitTimeChange(oldWaitTime, values.waitTime);
    return changes;
}

} // namespace lumivox
