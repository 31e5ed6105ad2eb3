// SPDX-License-Identifier: GPL-2.0-or-later
#include "shell/Resources.h"

#include <QtCore/QtGlobal>

static void RegisterLumivoxResources()
{
    Q_INIT_RESOURCE(lumivox);
}

namespace lumivox::ui {

void EnsureResources()
{
    static const bool registered = (RegisterLumivoxResources(), true);
    (void)registered;
}

} // namespace lumivox::ui
