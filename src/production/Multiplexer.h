// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The multiplexer: wraps a high-resolution still, the normal-resolution companion still
// and, for menu pages, the Layer II music into one Video CD still segment — an MPEG-1
// program stream of 2,324-byte packs at the single-speed rate — through mjpegtools' mplex
// library, with its command-line parsing replaced by fixed settings:
//   multiplex format "VCD stills" (6), video buffer 220 KB for every still, one output
//   file (no splitting), verbosity from the shared log level ("MJPEG_VERBOSITY").
//
// Inputs are classified by content (MPEG audio, AC3 audio, MPEG video, in that order);
// an input that is none of them fails the call with "Unrecogniseable file(s)...
// exiting.\n". The Video CD stills rules of the multiplexer apply (at most one normal and
// one high-resolution still, the high-resolution one not the smaller, each within the
// buffer). The MPEG audio input becomes audio stream 0xC0 for its whole length; the stills
// are streams 0xE1 (normal resolution) and 0xE2 (high resolution).
//
// Each call runs in a child process of its own (see MjpegLog.h): a fatal condition fails
// the call with its text, and the program goes on. Calls may overlap.

#include <string>
#include <vector>

namespace lumivox {

inline constexpr int kMultiplexFormatVcdStills = 6;
inline constexpr unsigned kStillVideoBufferKb = 220;
inline constexpr int kVcdPackBytes = 2324;
inline constexpr const char* kMultiplexerVersion = "2.2.1";
inline constexpr const char* kMultiplexerDate = "$Date: 2002/02/04 19:06:14 $";

// The argument-vector entry: argv is "mplex", the output path, then the input paths.
// With fewer than 3 arguments nothing is done and 0 is returned. Returns 0 when the
// output file is complete, -1 with the fatal text in `error` otherwise.
int MultiplexMain(int argc, const char* const argv[], std::string* error);
int MultiplexMain(const std::vector<std::string>& arguments, std::string* error);

// One slide segment: the high-resolution still and the companion, nothing else.
int MultiplexStill(const std::string& outputPath, const std::string& stillPath, const std::string& companionPath,
                   std::string* error);

// A whole segment: the still, its companion and, when `musicPath` is not empty, the music
// — the form the command line and the production run use.
int MultiplexSegment(const std::string& outputPath, const std::string& stillPath, const std::string& companionPath,
                     const std::string& musicPath, std::string* error);

} // namespace lumivox
