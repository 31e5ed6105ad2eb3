// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The program's music: the music player over the Qt wave output.

#include "logic/MusicPlayer.h"

#include <QObject>
#include <QString>

#include <memory>

namespace lumivox::ui {

class QtWaveOutput;

// The program's music player: the player over the Qt wave output, with its tasks run on
// the UI thread. Without an audio output it is unavailable and says so.
class MusicService final : public QObject {
    Q_OBJECT
public:
    explicit MusicService(QObject* parent = nullptr);
    // For tests: a service over another output (not owned).
    MusicService(WaveOutput* output, QObject* parent);
    ~MusicService() override;

    bool Available() const { return player_ != nullptr; }
    // False (and nothing else happens) when no audio output exists.
    bool Start(const QString& path);
    void Stop();
    bool IsPlaying() const;
    MusicPlayer* Player() const { return player_.get(); }

private:
    void MakePlayer(WaveOutput& output);

    std::unique_ptr<QtWaveOutput> ownOutput_;
    std::unique_ptr<MusicPlayer> player_;
};

// "Music cannot be played: ..." shown by the music commands without an audio output.
extern const char* const kMsgNoAudioOutput;

} // namespace lumivox::ui
