// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Where the core's texts and the program's fixed texts meet the translations: one context,
// "lumivox::core", in which the extraction tool collected every text marked with
// QT_TRANSLATE_NOOP("lumivox::core", ...). A text without a translation (a composed
// message, a file name) comes back as it is.

#include <QString>

#include <string>

namespace lumivox::ui {

QString TranslateCoreText(const char* text);
QString TranslateCoreText(const std::string& text);

} // namespace lumivox::ui
