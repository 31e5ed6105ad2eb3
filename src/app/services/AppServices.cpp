// SPDX-License-Identifier: GPL-2.0-or-later
#include "services/AppServices.h"

#include "picture/MenuTemplate.h"
#include "project/AlbumTable.h"
#include "project/Settings.h"
#include "services/FileChooser.h"
#include "services/MessageBoxes.h"
#include "services/MusicService.h"
#include "services/ProjectBridge.h"
#include "services/RecorderSetup.h"

#include <stdexcept>
#include <string>

namespace lumivox::ui {

namespace {

// Every part is needed by some page; a missing one is a fault of whoever built the services.
template <typename T>
std::unique_ptr<T> Required(std::unique_ptr<T> part, const char* what)
{
    if (!part)
        throw std::invalid_argument(std::string("The program's services were built without ") + what + '.');
    return part;
}

} // namespace

AppServices::AppServices(Settings& settings, AlbumTable& project, Parts parts)
    : settings_(settings), project_(project), messages_(Required(std::move(parts.messages), "message boxes")),
      files_(Required(std::move(parts.files), "a file chooser")), bridge_(std::make_unique<ProjectBridge>(project)),
      discMenu_(std::make_unique<DiscMenuState>(settings.programFolder)),
      recorders_(std::make_unique<RecorderSetup>(Required(std::move(parts.recorders), "a recorder backend"))),
      music_(Required(std::move(parts.music), "a music service"))
{ }

// The music stops and the recorder set-up's worker ends before the project's bridge goes.
AppServices::~AppServices() = default;

} // namespace lumivox::ui
