// SPDX-License-Identifier: GPL-2.0-or-later
#include "picture/QtGuiHost.h"

#include <QtCore/QByteArray>
#include <QtCore/QCoreApplication>
#include <QtGui/QGuiApplication>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <sys/syscall.h>
#include <unistd.h>

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

QtMessageHandler g_previousHandler = nullptr;

// Without a desktop session Qt warns that XDG_RUNTIME_DIR is not set and then uses a
// folder of its own, which is all off-screen drawing needs: keep that warning out of the
// command line's output, pass everything else on.
void FilterMessages(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type == QtWarningMsg && message.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR")))
        return;
    if (g_previousHandler)
        g_previousHandler(type, context, message);
    else
        std::fprintf(stderr, "%s\n", qPrintable(message));
}

// The main thread of a Linux process has the process's id as its thread id.
bool OnMainThread()
{
    return static_cast<pid_t>(::syscall(SYS_gettid)) == ::getpid();
}

std::atomic<bool> g_created{false};

} // namespace

bool HasGuiApplication()
{
    if (g_created.load())
        return true;
    return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr;
}

bool EnsureGuiApplication(GuiPlatform platform)
{
    static std::mutex mutex;
    std::lock_guard<std::mutex> lock(mutex);
    if (QCoreApplication::instance())
        return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr;
    if (!OnMainThread())
        return false;
    if (platform == GuiPlatform::Offscreen)
        qputenv("QT_QPA_PLATFORM", "offscreen");
    else if (!HasDisplay() && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    g_previousHandler = qInstallMessageHandler(FilterMessages);
    // Deliberately never deleted: fonts and cached glyphs must outlive every drawing,
    // including drawing on worker threads at process exit.
    static QGuiApplication* application = new QGuiApplication(g_argc, g_argv);
    g_created.store(application != nullptr);
    return application != nullptr;
}

} // namespace lumivox
