// SPDX-License-Identifier: GPL-2.0-or-later
#include "logic/DiscLabel.h"

#include "vcd/VolumeLabel.h"

namespace lumivox::ui {

int DiscLabelLength()
{
    return static_cast<int>(kVolumeLabelLength);
}

QString DiscLabelOnDisc(const QString& typed, bool* changed)
{
    const VolumeLabel label = MapVolumeLabel(typed.toStdString(), "LUMIVOX");
    if (changed)
        *changed = label.changed;
    return QString::fromStdString(label.text);
}

} // namespace lumivox::ui
