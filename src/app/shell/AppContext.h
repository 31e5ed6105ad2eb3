// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The process-wide objects the main window owns and hands to its pages and dialogs.

namespace lumivox {
class AlbumTable;
class Settings;
class DiscMenuState;
} // namespace lumivox

namespace lumivox::ui {

class FileChooser;
class MessageBoxes;
class MusicService;
class ProjectBridge;
class RecorderSetup;

struct AppContext {
    Settings* settings = nullptr;
    AlbumTable* project = nullptr;
    ProjectBridge* bridge = nullptr;
    DiscMenuState* discMenu = nullptr;
    MusicService* music = nullptr;
    RecorderSetup* recorders = nullptr;
    MessageBoxes* messages = nullptr;
    FileChooser* files = nullptr;
};

} // namespace lumivox::ui
