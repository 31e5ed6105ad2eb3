// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Off-screen drawing needs a QGuiApplication (fonts, the raster paint engine's glyph
// cache). Qt wants it made on the process's main thread, so every program makes it there
// before any drawing: the desktop program creates its QApplication in main, the command
// line, the tests, the benchmarks and the fuzz targets call EnsureGuiApplication from their
// main thread. Library code never creates one: a drawing function that finds none fails
// with kMsgNoGuiApplication.

namespace lumivox {

enum class GuiPlatform {
    // Keep the platform the environment asks for; fall back to the "offscreen"
    // platform when there is no display (neither DISPLAY nor WAYLAND_DISPLAY is set).
    Automatic,
    // Always draw off-screen (the command line never opens a window).
    Offscreen,
};

// Makes sure a QGuiApplication exists. Call it from the main thread; any number of calls
// are fine. Only the first call that finds no application creates one, and that
// application lives until the process ends. Returns false when none exists afterwards:
// none could be created, or the call came from another thread (which never creates one).
bool EnsureGuiApplication(GuiPlatform platform = GuiPlatform::Automatic);

// True when a QGuiApplication (or QApplication) exists; safe on any thread.
bool HasGuiApplication();

// The error of a drawing call made before the program created its application.
inline constexpr const char* kMsgNoGuiApplication =
    "Drawing needs the program's graphics application, which has not been created "
    "(the program must create it on its main thread before it draws).";

} // namespace lumivox
