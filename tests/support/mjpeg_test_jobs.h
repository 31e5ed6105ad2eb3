// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Test support for the encoder/multiplexer job runner: jobs whose work is a closure of the
// test program (run in a forked child, supervised exactly as a helper job is), and the
// test helper program "lumivox-mjpeg-test", which knows the job kinds "test-talk",
// "test-fatal", "test-exit", "test-crash" and "test-hang" besides the real ones.
//
// A forked child of a program with other threads inherits every lock another thread held
// at that moment, held for ever; the program never forks its jobs. The tests that use
// RunForkedMjpegJob run without other busy threads, and their closures touch no Qt, no
// mutex of ours and no first use of a function-local static.

#include "production/MjpegJob.h"

#include <functional>
#include <string>

namespace lumivox::test {

inline constexpr const char* kMjpegTestHelperName = "lumivox-mjpeg-test";

// Runs work in a forked child with the job's log hook installed; its outcome as a helper
// job's would be.
MjpegJobResult RunForkedMjpegJob(const std::function<void()>& work);

// The test helper program, beside the test executables.
std::string MjpegTestHelperPath();

// The test kinds, for the test helper's main.
bool RunMjpegTestJobKind(std::string_view kind, MjpegRequestReader& request);

} // namespace lumivox::test
