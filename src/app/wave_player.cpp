#include "app/wave_player.h"

#include <QUrl>

namespace telvora {

WavePlayer::WavePlayer(QObject* parent) : QObject(parent), m_key(this), m_beep(this) {
    m_key.setSource(QUrl(QStringLiteral("qrc:/sounds/key.wav")));
    m_beep.setSource(QUrl(QStringLiteral("qrc:/sounds/beep.wav")));
}

bool WavePlayer::IsPlaying() const {
    return m_key.isPlaying() || m_beep.isPlaying();
}

bool WavePlayer::Loading() const {
    return m_key.status() == QSoundEffect::Loading || m_beep.status() == QSoundEffect::Loading;
}

bool WavePlayer::Play(Wave wave) {
    if (IsPlaying()) {
        return false;
    }
    QSoundEffect& effect = wave == Wave::Key ? m_key : m_beep;
    effect.play();
    return true;
}

} // namespace telvora
