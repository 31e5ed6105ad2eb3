// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The desktop program's services, built once and owned in one place: the settings and the
// project (the process's own), the project's bridge to the window, the disc menu's state,
// the menu music, the recorder set-up, the message boxes and the file chooser. The program
// builds them over the real dialogs, sound output and drives; the tests' harness builds
// them over stand-ins. The main window, its pages and dialogs hold a reference; the
// services outlive the window.

#include <memory>

namespace lumivox {
class AlbumTable;
class DiscMenuState;
class Settings;
} // namespace lumivox

namespace lumivox::ui {

class FileChooser;
class MessageBoxes;
class MusicService;
class ProjectBridge;
class RecorderBackend;
class RecorderSetup;

class AppServices {
public:
    // What talks to the user or the machine, chosen by whoever builds the services.
    struct Parts {
        std::unique_ptr<MessageBoxes> messages;
        std::unique_ptr<FileChooser> files;
        std::unique_ptr<MusicService> music;
        std::unique_ptr<RecorderBackend> recorders;
    };

    // settings and project must outlive the services; the disc menu's state reads the
    // templates of settings' program folder.
    AppServices(Settings& settings, AlbumTable& project, Parts parts);
    ~AppServices();
    AppServices(const AppServices&) = delete;
    AppServices& operator=(const AppServices&) = delete;

    Settings& UserSettings() const { return settings_; }
    AlbumTable& Project() const { return project_; }
    ProjectBridge& Bridge() const { return *bridge_; }
    DiscMenuState& DiscMenu() const { return *discMenu_; }
    MusicService& Music() const { return *music_; }
    RecorderSetup& Recorders() const { return *recorders_; }
    MessageBoxes& Messages() const { return *messages_; }
    FileChooser& Files() const { return *files_; }

private:
    Settings& settings_;
    AlbumTable& project_;
    std::unique_ptr<MessageBoxes> messages_;
    std::unique_ptr<FileChooser> files_;
    std::unique_ptr<ProjectBridge> bridge_;
    std::unique_ptr<DiscMenuState> discMenu_;
    std::unique_ptr<RecorderSetup> recorders_;
    std::unique_ptr<MusicService> music_;
};

} // namespace lumivox::ui
