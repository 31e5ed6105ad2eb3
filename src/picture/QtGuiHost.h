#pragma once
// Off-screen drawing needs a QGuiApplication (fonts, the raster paint engine's glyph
// cache). The desktop program creates its own QApplication; the command line, the tests,
// the benchmarks and the production thread may draw without one. EnsureGuiApplication
// creates one exactly once, thread-safely, when none exists yet.

namespace lumivox {

enum class GuiPlatform {
    // Keep the platform the environment asks for; fall back to the "offscreen"
    // platform when there is no display (neither DISPLAY nor WAYLAND_DISPLAY is set).
    Automatic,
    // Always draw off-screen (the command line never opens a window).
    Offscreen,
};

// Makes sure a QGuiApplication exists. Safe to call from any thread and any number of
// times; only the first call that finds no application creates one, and that
// application lives until the process ends. Returns false when none could be created.
bool EnsureGuiApplication(GuiPlatform platform = GuiPlatform::Automatic);

} // namespace lumivox
