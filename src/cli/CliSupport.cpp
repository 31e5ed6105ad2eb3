#include "CliSupport.h"

#include "base/IniFile.h"
#include "base/Paths.h"
#include "base/TextUtil.h"

#include <filesystem>
#include <system_error>

namespace lumivox::cli {

bool ChooseTemplate(DiscMenuState& state, const std::string& value, std::string* error)
{
    std::error_code ec;
    const bool isPath = value.find('/') != std::string::npos;
    const std::string installed = TemplateFolder(state.ProgramFolder());
    if (isPath || (std::filesystem::is_regular_file(value, ec) &&
                   !std::filesystem::is_regular_file(installed + value, ec)))
        return state.SelectTemplateFile(value, error);
    std::string fileName = value;
    if (!EqualsIgnoreCase(std::filesystem::path(fileName).extension().string(), ".ini") &&
        !std::filesystem::is_regular_file(installed + fileName, ec))
        fileName += ".ini";
    return state.SelectTemplate(fileName, error);
}

bool PalFromSettings()
{
    return GetPrivateProfileInt("GENERAL", "PAL", 0, ConfigFilePath()) != 0;
}

SlideGeometry SlideGeometryFromSettings()
{
    return GetPrivateProfileInt("GENERAL", "SquarePixelSlides", 0, ConfigFilePath()) == 1
               ? SlideGeometry::SquarePixels
               : SlideGeometry::TvAspect;
}

} // namespace lumivox::cli
