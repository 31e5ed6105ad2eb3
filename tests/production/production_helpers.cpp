// SPDX-License-Identifier: GPL-2.0-or-later
#include "production/production_helpers.h"

#include "picture/MenuTemplate.h"

#include <sstream>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <random>
#include <regex>
#include <stdexcept>
#include <unistd.h>

namespace lumivox::test {

namespace fs = std::filesystem;

Scratch::Scratch()
{
    std::random_device random;
    folder_ = fs::temp_directory_path() /
              ("lumivox-production-" + std::to_string(::getpid()) + "-" + std::to_string(random()));
    fs::create_directories(folder_);
}

Scratch::~Scratch()
{
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
}

std::string ProgramFolderForTests()
{
    return std::string(LUMIVOX_BIN_DIR) + "/";
}

namespace {

void Put16(std::vector<std::uint8_t>& out, unsigned value)
{
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void Put32(std::vector<std::uint8_t>& out, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!file)
        throw std::runtime_error("cannot write " + path);
}

} // namespace

void WriteTestBmp(const std::string& path, int width, int height, unsigned seed)
{
    const std::uint32_t stride = static_cast<std::uint32_t>((width * 3 + 3) & ~3);
    const std::uint32_t pixels = stride * static_cast<std::uint32_t>(height);
    std::vector<std::uint8_t> out;
    out.push_back('B');
    out.push_back('M');
    Put32(out, 54 + pixels);
    Put32(out, 0);
    Put32(out, 54);
    Put32(out, 40);
    Put32(out, static_cast<std::uint32_t>(width));
    Put32(out, static_cast<std::uint32_t>(height));
    Put16(out, 1);
    Put16(out, 24);
    Put32(out, 0);
    Put32(out, pixels);
    Put32(out, 2835);
    Put32(out, 2835);
    Put32(out, 0);
    Put32(out, 0);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            out.push_back(static_cast<std::uint8_t>(x * 255 / std::max(1, width - 1)));
            out.push_back(static_cast<std::uint8_t>(y * 255 / std::max(1, height - 1)));
            out.push_back(static_cast<std::uint8_t>(seed * 67 + 40));
        }
        out.resize(out.size() + (stride - static_cast<std::uint32_t>(width) * 3), 0);
    }
    WriteBytes(path, out);
}

void WriteTestWave(const std::string& path, double seconds)
{
    constexpr std::uint32_t kRate = 44100;
    const std::uint32_t frames = static_cast<std::uint32_t>(seconds * kRate);
    std::vector<std::uint8_t> out;
    for (char c : std::string("RIFF"))
        out.push_back(static_cast<std::uint8_t>(c));
    Put32(out, 36 + frames * 4);
    for (char c : std::string("WAVEfmt "))
        out.push_back(static_cast<std::uint8_t>(c));
    Put32(out, 16);
    Put16(out, 1);
    Put16(out, 2);
    Put32(out, kRate);
    Put32(out, kRate * 4);
    Put16(out, 4);
    Put16(out, 16);
    for (char c : std::string("data"))
        out.push_back(static_cast<std::uint8_t>(c));
    Put32(out, frames * 4);
    for (std::uint32_t i = 0; i < frames; ++i) {
        const auto sample = static_cast<std::int16_t>(8000 * std::sin(2 * M_PI * 440.0 * i / kRate));
        Put16(out, static_cast<std::uint16_t>(sample));
        Put16(out, static_cast<std::uint16_t>(sample));
    }
    WriteBytes(path, out);
}

void WriteText(const std::string& path, const std::string& text)
{
    WriteBytes(path, std::vector<std::uint8_t>(text.begin(), text.end()));
}

std::string FirstDifference(const std::vector<std::uint8_t>& expected, const std::vector<std::uint8_t>& actual)
{
    if (expected == actual)
        return {};
    const std::size_t common = std::min(expected.size(), actual.size());
    std::size_t at = 0;
    while (at < common && expected[at] == actual[at])
        ++at;
    std::ostringstream out;
    out << "images differ: " << expected.size() << " vs " << actual.size() << " bytes, first difference at byte " << at
        << " (sector " << at / 2352 << ", byte " << at % 2352 << ")";
    return out.str();
}

std::vector<std::uint8_t> ReadBytes(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(file), {});
}

std::string ReadText(const std::string& path)
{
    const std::vector<std::uint8_t> bytes = ReadBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

std::string Join(const std::vector<std::string>& names)
{
    std::string joined;
    for (const std::string& name : names)
        joined += name + " ";
    return joined;
}

void MakeProject(AlbumTable& project, const Scratch& folder, const std::vector<int>& pictureCounts)
{
    project.ResetProject();
    for (std::size_t a = 0; a < pictureCounts.size(); ++a) {
        const int album = project.AddAlbum("Album " + std::to_string(a + 1));
        for (int p = 0; p < pictureCounts[a]; ++p) {
            const std::string path = folder.Path("a" + std::to_string(a + 1) + "_p" + std::to_string(p + 1) + ".bmp");
            WriteTestBmp(path, 48 + 8 * p, 36, static_cast<unsigned>(a * 7 + p));
            std::string error;
            if (!project.AddPictureToAlbum(album, path, {}, nullptr, &error))
                throw std::runtime_error("cannot add " + path + ": " + error);
        }
    }
}

ProductionParameters MakeParameters(const AlbumTable& project, const std::string& tempFolder, ImageSink* sink)
{
    ProductionParameters parameters;
    parameters.plan = MakeProductionPlan(project);
    std::string error;
    if (!LoadMenuTemplate(ProgramFolderForTests() + "template/classic.ini", parameters.plan.menuTemplate, &error))
        throw std::runtime_error(error);
    parameters.tempFolder = tempFolder;
    parameters.programFolder = ProgramFolderForTests();
    parameters.plan.norm = TvNorm::Ntsc;
    parameters.plan.cdLabel = "TEST";
    parameters.jobs = 2;
    parameters.sink = sink;
    return parameters;
}

void RecordingObserver::OnProgress(const ProgressEvent& event)
{
    const ProgressMessage message = event.message;
    const std::int64_t first = event.done;
    const std::int64_t second = event.total;
    std::lock_guard<std::mutex> lock(mutex_);
    reports.push_back({message, first, second});
    if (cancel_ && message == cancelMessage_ && first >= cancelAtLeast_)
        cancel_->Set();
}

void RecordingObserver::OnWarning(const std::string& text)
{
    std::lock_guard<std::mutex> lock(mutex_);
    warnings.push_back(text);
}

void RecordingObserver::OnFinished(const ProductionResult&)
{
    std::lock_guard<std::mutex> lock(mutex_);
    ++finishedCalls;
}

void RecordingObserver::CancelOn(ManualResetEvent* cancel, ProgressMessage message, std::int64_t atLeast)
{
    cancel_ = cancel;
    cancelMessage_ = message;
    cancelAtLeast_ = atLeast;
}

std::vector<Report> RecordingObserver::Reports(ProgressMessage message) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<Report> result;
    for (const Report& report : reports)
        if (report.message == message)
            result.push_back(report);
    return result;
}

std::vector<ProgressMessage> RecordingObserver::Sequence() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<ProgressMessage> result;
    for (const Report& report : reports)
        if (result.empty() || result.back() != report.message)
            result.push_back(report.message);
    return result;
}

int MemorySink::SetCueList(const std::vector<CueRecord>& list)
{
    cues = list;
    cueListGiven = true;
    return 0;
}

int MemorySink::WriteSector(const std::uint8_t* sector, std::uint32_t)
{
    if (failAtSector >= 0 && sectors == static_cast<std::uint32_t>(failAtSector)) {
        error_ = "Cannot write the disc image \"memory\": No space left on device";
        return -1;
    }
    image.insert(image.end(), sector, sector + 2352);
    ++sectors;
    return 0;
}

int MemorySink::CloseSink()
{
    closed = true;
    return 0;
}

std::vector<std::string> FilesMatching(const std::string& folder, const std::string& pattern)
{
    std::vector<std::string> names;
    const std::regex expression(pattern);
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        const std::string name = entry.path().filename().string();
        if (std::regex_match(name, expression))
            names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool HasStartCode(const std::vector<std::uint8_t>& bytes, std::uint8_t id)
{
    for (std::size_t i = 0; i + 3 < bytes.size(); ++i)
        if (bytes[i] == 0 && bytes[i + 1] == 0 && bytes[i + 2] == 1 && bytes[i + 3] == id)
            return true;
    return false;
}

} // namespace lumivox::test
