// SPDX-License-Identifier: GPL-2.0-or-later
#include "services/MusicService.h"

#include "logic/QueuedCall.h"
#include "services/QtWaveOutput.h"

namespace lumivox::ui {

const char* const kMsgNoAudioOutput =
    QT_TRANSLATE_NOOP("lumivox::core", "Music cannot be played: no audio output device was found on this computer.");

MusicService::MusicService(QObject* parent) : QObject(parent)
{
    ownOutput_ = std::make_unique<QtWaveOutput>();
    if (ownOutput_->OpenDevice())
        MakePlayer(*ownOutput_);
}

MusicService::MusicService(WaveOutput* output, QObject* parent) : QObject(parent)
{
    if (output && output->IsOpen())
        MakePlayer(*output);
}

MusicService::~MusicService()
{
    player_.reset();
}

void MusicService::MakePlayer(WaveOutput& output)
{
    // Tasks posted to this object are dropped by Qt once it is destroyed.
    player_ = std::make_unique<MusicPlayer>(output,
                                            [this](std::function<void()> task) { PostQueued(this, std::move(task)); });
}

bool MusicService::Start(const QString& path)
{
    if (!player_)
        return false;
    player_->Start(path.toStdString());
    return true;
}

void MusicService::Stop()
{
    if (player_)
        player_->Stop();
}

bool MusicService::IsPlaying() const
{
    if (!player_)
        return false;
    const MusicPlayer::State state = player_->CurrentState();
    return state == MusicPlayer::State::Prefilling || state == MusicPlayer::State::Playing ||
           state == MusicPlayer::State::Finished;
}

} // namespace lumivox::ui
