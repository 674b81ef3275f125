#pragma once

#include <QObject>
#include <QSoundEffect>

namespace telvora {

// The program's two sounds, "KEY" (the key click) and "BEEP" (the buzzer),
// loaded once from the program's resources and played asynchronously. A
// request made while one of them is still playing is dropped, never queued.
// Without an audio device nothing is heard and nothing blocks.
class WavePlayer : public QObject {
    Q_OBJECT

public:
    enum class Wave { Key, Beep };

    explicit WavePlayer(QObject* parent = nullptr);

    // Returns whether the sound was started.
    bool Play(Wave wave);
    bool IsPlaying() const;
    // Whether a sound is still being loaded in the background.
    bool Loading() const;

private:
    QSoundEffect m_key;
    QSoundEffect m_beep;
};

} // namespace telvora
