// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The screenshot program: opens a project, shows each page and dialog in turn, lets the
// events settle and saves OUTDIR/NAME.png (editor, menu, preview, burn, progress — mid-burn
// against the emulated recorder —, erase, options, about).

#include <QString>

namespace lumivox::ui {

class MainWindow;
class AppServices;

// Returns the program's exit status: 0 when every picture was saved.
int RunScreenshots(MainWindow& window, const AppServices& services, const QString& outDir, const QString& project);

// The bundled sample project written for this machine (its pictures named by absolute
// path) into folder; empty when the sample is not found.
QString WriteSampleProject(const QString& folder);

} // namespace lumivox::ui
