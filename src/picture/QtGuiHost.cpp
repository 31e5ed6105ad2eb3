#include "picture/QtGuiHost.h"

#include <QtCore/QByteArray>
#include <QtCore/QCoreApplication>
#include <QtGui/QGuiApplication>

#include <cstdlib>
#include <mutex>

namespace lumivox {

namespace {

bool HasDisplay()
{
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x11 && *x11) || (wayland && *wayland);
}

// QGuiApplication keeps references to argc and argv for its whole life.
int g_argc = 1;
char g_programName[] = "lumivox";
char* g_argv[] = {g_programName, nullptr};

} // namespace

bool EnsureGuiApplication(GuiPlatform platform)
{
    static std::mutex mutex;
    std::lock_guard<std::mutex> lock(mutex);
    if (QCoreApplication::instance())
        return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr;
    if (platform == GuiPlatform::Offscreen)
        qputenv("QT_QPA_PLATFORM", "offscreen");
    else if (!HasDisplay() && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Deliberately never deleted: fonts and cached glyphs must outlive every drawing,
    // including drawing on worker threads at process exit.
    static QGuiApplication* application = new QGuiApplication(g_argc, g_argv);
    return application != nullptr;
}

} // namespace lumivox
