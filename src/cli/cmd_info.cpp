// SPDX-License-Identifier: GPL-2.0-or-later
// lumivox-cli info: loads a project file the way the program does and lists what it
// holds, with every picture's full-size dimensions and every picture that was left out.

#include "CliSupport.h"
#include "Command.h"
#include "Options.h"

#include "base/Paths.h"
#include "base/TextUtil.h"
#include "picture/PicReader.h"
#include "production/DiscEstimate.h"
#include "production/ProductionPlan.h"

#include <optional>
#include "project/AlbumTable.h"
#include "vcd/VideoCdLayout.h"

#include <cstdio>
#include <exception>
#include <map>
#include <utility>

namespace lumivox::cli {

namespace {

struct PictureFacts {
    std::string path;
    int rotation = 0;
    int width = 0;
    int height = 0;
    std::string error; // why the full-size decode failed, when it did
};

// The picture as production will see it: its full size, turned.
// A file named many times in a project (one photo in every album) is looked at once.
using ProbedSizes = std::map<std::string, std::pair<PictureSize, std::string>>;

PictureFacts DescribePicture(PicReader& reader, const PictureItem& item, ProbedSizes& probed)
{
    PictureFacts facts;
    facts.path = item.path;
    facts.rotation = item.rotated ? item.rotation : 0;
    auto known = probed.find(item.path);
    if (known == probed.end()) {
        std::pair<PictureSize, std::string> result;
        try {
            // The header tells the size; the picture is decoded only where the header is
            // not enough (formats other than JPEG), as making the disc checks it.
            result.first = reader.ProbeFile(item.path);
        } catch (const PLTextException& error) {
            result.second = error.GetText();
        } catch (const std::exception& error) {
            result.second = error.what();
        }
        known = probed.emplace(item.path, std::move(result)).first;
    }
    const PictureSize& size = known->second.first;
    facts.error = known->second.second;
    if (facts.error.empty()) {
        const bool sideways = facts.rotation == 90 || facts.rotation == 270;
        facts.width = sideways ? size.height : size.width;
        facts.height = sideways ? size.width : size.height;
    }
    return facts;
}

int RunInfo(const std::vector<std::string>& args)
{
    std::string projectPath;
    SharedOptions shared;
    std::optional<std::string> music; // replaces the project's; "" for none
    std::optional<SlideshowTrackMode> slideshowTrack;
    for (std::size_t a = 0; a < args.size(); ++a) {
        const std::string& arg = args[a];
        std::string sharedError;
        if (TakeSharedOption(args, &a, kNormOption | kTemplateOption | kJsonOption, &shared, &sharedError)) {
            if (!sharedError.empty()) {
                std::fprintf(stderr, "lumivox-cli info: %s\n", sharedError.c_str());
                return 2;
            }
            continue;
        }
        if (arg == "--music") {
            if (a + 1 >= args.size()) {
                std::fprintf(stderr, "lumivox-cli info: --music needs an MP3 or WAVE file\n");
                return 2;
            }
            music = args[++a];
        } else if (arg == "--slideshow-track") {
            SlideshowTrackMode mode;
            if (a + 1 >= args.size() || !ParseSlideshowTrackMode(args[++a], mode)) {
                std::fprintf(stderr, "lumivox-cli info: --slideshow-track needs auto, always or never\n");
                return 2;
            }
            slideshowTrack = mode;
        } else if (!arg.empty() && arg[0] == '-') {
            std::fprintf(stderr, "lumivox-cli info: unknown option '%s' (see lumivox-cli help info)\n",
                         OneLine(arg).c_str());
            return 2;
        } else if (projectPath.empty()) {
            projectPath = arg;
        } else {
            std::fprintf(stderr, "lumivox-cli info: more than one project file given\n");
            return 2;
        }
    }
    const bool json = shared.json;
    const std::string& templateValue = shared.templateValue;
    if (projectPath.empty()) {
        std::fprintf(stderr, "lumivox-cli info: no project file given (see lumivox-cli help info)\n");
        return 2;
    }

    AlbumTable project;
    project.ResetProject();
    // Loaded as make loads it: covers decoded, other pictures checked by their header.
    const ProjectLoadResult result = project.LoadProject(projectPath, PictureLoading::Lazy);
    if (!result.Loaded()) {
        if (result.status == ProjectLoadStatus::NotProject)
            std::fprintf(stderr, "lumivox-cli info: %s: not a Lumivox project (%s)\n", OneLine(projectPath).c_str(),
                         kMsgInvalidProject);
        else
            std::fprintf(stderr, "lumivox-cli info: %s\n", OneLine(result.error).c_str());
        return 1;
    }
    if (result.albumsBeyondLimit > 0)
        std::fprintf(stderr, "lumivox-cli info: warning: %s\n",
                     OneLine(Format("%s: %d album%s past the 99th %s not loaded", projectPath.c_str(),
                                    result.albumsBeyondLimit, result.albumsBeyondLimit == 1 ? "" : "s",
                                    result.albumsBeyondLimit == 1 ? "was" : "were"))
                         .c_str());

    // The disc's menu: the project's design unless the command line gives a part of it.
    // Its warnings (a file of the design that is gone) come before the listing.
    DiscMenuState menu(ProgramFolder());
    std::string error;
    if (!SetUpDiscMenu(menu, result.design, {templateValue, std::nullopt, music}, "lumivox-cli info", &error)) {
        std::fprintf(stderr, "lumivox-cli info: %s\n", OneLine(error).c_str());
        return 1;
    }

    PicReader reader;
    reader.SetMode(DecodeMode::Full);
    ProbedSizes probed;
    std::string out;
    if (json)
        out += "{\"albums\": [";
    else
        out += Format("Project: %s\n%s\n", EscapeControls(projectPath).c_str(),
                      EscapeControls(project.StatusText()).c_str());
    for (int album = 0; album < project.AlbumCount(); ++album) {
        const AlbumInfo& info = project.Album(album);
        if (json) {
            out += album ? ", " : "";
            out += "{\"name\": " + JsonQuote(info.name) + ", \"wait\": " + std::to_string(info.waitTime) +
                   ", \"pictures\": [";
        } else {
            out += Format("\nAlbum %02d: %s (wait %d s, %d picture%s)\n", album + 1, EscapeControls(info.name).c_str(),
                          info.waitTime, info.PictureCount(), info.PictureCount() == 1 ? "" : "s");
        }
        for (int i = 0; i < info.PictureCount(); ++i) {
            const PictureItem& item = project.Picture(album, i);
            const PictureFacts facts = DescribePicture(reader, item, probed);
            if (json) {
                out += i ? ", " : "";
                out += "{\"path\": " + JsonQuote(facts.path) + ", \"rotation\": " + std::to_string(facts.rotation) +
                       ", \"width\": " + std::to_string(facts.width) + ", \"height\": " + std::to_string(facts.height) +
                       (item.missing ? ", \"missing\": true" : "") + "}";
            } else if (item.missing) {
                // Kept in the project so that a save loses nothing; left off the disc.
                out += Format("  %02d  %s  missing: the file is not there; the picture stays in the project and is "
                              "left off the disc\n",
                              i + 1, EscapeControls(facts.path).c_str());
            } else if (facts.error.empty()) {
                out += Format("  %02d  %s  rotation %d  %d x %d\n", i + 1, EscapeControls(facts.path).c_str(),
                              facts.rotation, facts.width, facts.height);
            } else {
                out += Format("  %02d  %s  rotation %d  (full size unknown: %s)\n", i + 1,
                              EscapeControls(facts.path).c_str(), facts.rotation, OneLine(facts.error).c_str());
            }
        }
        if (json)
            out += "]}";
    }

    // The disc this project makes with that menu, before anything is encoded.
    ProductionPlan plan = MakeProductionPlan(project);
    if (!SetMenuFromState(menu, plan, &error)) {
        std::fprintf(stderr, "lumivox-cli info: %s\n", OneLine(error).c_str());
        return 1;
    }
    plan.norm = TvNormFromSetting(PalChosen(shared));
    plan.slideshowTrack = slideshowTrack.value_or(SlideshowTrackFromSettings());
    const DiscEstimate disc = EstimateDisc(plan, ProgramFolder());
    const std::string& background = menu.BackgroundOverride();
    if (json) {
        out += "], \"menu\": {\"template\": " + JsonQuote(menu.CurrentTemplatePath()) + ", \"background\": " +
               (background.empty() ? std::string("null") : JsonQuote(background)) + ", \"music\": " +
               (plan.musicPath.empty() ? std::string("null") : JsonQuote(plan.musicPath)) + "}";
        out += Format(", \"disc\": {\"norm\": \"%s\", \"menu_pages\": %d, \"slides\": %d, "
                      "\"segment_units\": %u, \"max_segment_units\": %u, \"entries\": %u, \"lists\": %u, "
                      "\"sectors\": %u, \"sectors_exact\": %s, \"max_sectors\": %u, \"minutes\": %.2f, "
                      "\"music_estimated\": %s, \"fits\": %s, \"limit\": ",
                      TvNormName(plan.norm), plan.MenuPages(), plan.SlideCount(), disc.segmentUnits, kMaxSegmentUnits,
                      disc.entries, disc.lists, disc.sectors, disc.sectorsExact ? "true" : "false", kMaxDiscSectors,
                      disc.minutes, !plan.musicPath.empty() ? "true" : "false", disc.Fits() ? "true" : "false") +
               (disc.Fits() ? std::string("null") : JsonQuote(disc.limitExceeded)) +
               Format(", \"slideshow_track\": \"%s\", \"track\": \"%s\", \"track_sectors\": %u, "
                      "\"track_warning\": ",
                      SlideshowTrackModeName(plan.slideshowTrack), disc.slideshowTrack ? "slideshow" : "card",
                      disc.trackPackets) +
               (disc.trackWarning.empty() ? std::string("null") : JsonQuote(disc.trackWarning)) + "}";
    } else {
        out += "\nMenu: " + EscapeControls(menu.CurrentTemplatePath()) + ", " +
               (background.empty() ? std::string("the template's own background")
                                   : "background " + EscapeControls(background)) +
               ", " + (plan.musicPath.empty() ? std::string("no music") : "music " + EscapeControls(plan.musicPath)) +
               "\n";
        out += Format("Disc (%s, %d menu page%s, %d slide%s): %u of %u segment units, %s%u sectors, "
                      "%.1f of 80 minutes%s\n",
                      TvNormName(plan.norm), plan.MenuPages(), plan.MenuPages() == 1 ? "" : "s", plan.SlideCount(),
                      plan.SlideCount() == 1 ? "" : "s", disc.segmentUnits, kMaxSegmentUnits,
                      disc.sectorsExact ? "" : "at least ", disc.sectors, disc.minutes,
                      plan.musicPath.empty() ? "" : " (the menu music's share estimated)");
        out += disc.slideshowTrack ? Format("  MPEG track: the slideshow, at most %u sectors\n", disc.trackPackets)
                                   : std::string("  MPEG track: the fixed card\n");
        if (!disc.trackWarning.empty())
            out += "  " + disc.trackWarning + "\n";
        if (!disc.Fits())
            out += "  The disc cannot be made: " + disc.limitExceeded + "\n";
    }

    if (json) {
        out += ", \"skipped\": [";
        for (std::size_t i = 0; i < result.skipped.size(); ++i) {
            const SkippedPicture& skipped = result.skipped[i];
            out += i ? ", " : "";
            out += "{\"album\": " + std::to_string(skipped.album) + ", \"path\": " + JsonQuote(skipped.path) +
                   ", \"error\": " + JsonQuote(skipped.reason) + "}";
        }
        out += "]}\n";
    } else if (result.skipped.empty()) {
        out += "\nSkipped pictures: none\n";
    } else {
        out += Format("\nSkipped pictures: %zu\n", result.skipped.size());
        for (const SkippedPicture& skipped : result.skipped)
            out += "  " +
                   OneLine(Format("album %02d (%s): %s", skipped.album, skipped.albumName.c_str(),
                                  PathAndReason(skipped.path, skipped.reason).c_str())) +
                   "\n";
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}

const CommandRegistration registration({
    "info",
    "PROJECT.lvx [--json] [--template NAME|FILE] [--music FILE] [--pal|--ntsc] [--slideshow-track auto|always|never]",
    "Loads a Lumivox project file (.lvx) the way the program opens it and lists what it\n"
    "holds: each album with its name and wait time in seconds, and each picture with its\n"
    "path, its rotation (degrees clockwise) and its size once decoded at full size and\n"
    "turned, as it will go on the disc. Then every picture that loading left out, with\n"
    "the reason: the decoder's error text, or the limit of 99 pictures per album. Last the\n"
    "disc menu (the project's template, background and music, each replaced by the option\n"
    "given) and the disc it makes: its segment units, sectors and playing minutes, and the\n"
    "first limit of a Video CD it exceeds, if any.\n"
    "\n"
    "Options:\n"
    "  --template NAME|FILE, --music FILE, --pal, --ntsc, --slideshow-track MODE\n"
    "           as for lumivox-cli make\n"
    "  --json   print one JSON object instead of text:\n"
    "           {\"albums\": [{\"name\": ..., \"wait\": ..., \"pictures\": [{\"path\": ...,\n"
    "           \"rotation\": ..., \"width\": ..., \"height\": ...}]}],\n"
    "           \"menu\": {\"template\", \"background\", \"music\"},\n"
    "           \"disc\": {\"norm\", \"menu_pages\", \"slides\", \"segment_units\",\n"
    "           \"max_segment_units\", \"entries\", \"lists\", \"sectors\", \"sectors_exact\",\n"
    "           \"max_sectors\", \"minutes\", \"music_estimated\", \"fits\", \"limit\"},\n"
    "           \"skipped\": [{\"album\": ..., \"path\": ..., \"error\": ...}]}\n"
    "           \"album\" is the album's number counting from 1; a picture whose full-size\n"
    "           decode fails shows width and height 0.\n"
    "\n"
    "Exit status: 0 when the project file was read, even when pictures were left out;\n"
    "1 when it could not be read or is not a Lumivox project (one line on standard error\n"
    "names the file and the reason); 2 for wrong arguments.",
    &RunInfo,
});

} // namespace

} // namespace lumivox::cli
