// SPDX-License-Identifier: GPL-2.0-or-later
#include "logic/CoreText.h"

#include <QCoreApplication>

namespace lumivox::ui {

QString TranslateCoreText(const char* text)
{
    return QCoreApplication::translate("lumivox::core", text);
}

QString TranslateCoreText(const std::string& text)
{
    return TranslateCoreText(text.c_str());
}

} // namespace lumivox::ui
