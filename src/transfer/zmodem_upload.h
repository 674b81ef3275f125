#pragma once

#include "transfer/transfer_window.h"
#include "transfer/zmodem/zmodem_files.h"
#include "transfer/zmodem/zmodem_sender.h"

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace telvora {

// The ZMODEM upload window, which owns the ZMODEM sender. The sender streams:
// a thread of the window's own sends its data for as long as it has data
// due, and also carries out the ticks and the user's cancel, so that a slow
// line's writes (a serial port drains a burst in seconds) never hold up this
// thread; the receiver's replies and the cancel are acted on between two
// bursts. The thread ends with the window.
class TZmodemUpload : public TTransferWindow {
    Q_OBJECT

public:
    explicit TZmodemUpload(QWidget* parent = nullptr);
    ~TZmodemUpload() override;

    // Prepares an upload of the files in this order (each opened now; raises
    // ETransferFileError when one cannot be read, with nothing sent); show
    // the window with exec() afterwards.
    void Start(TLiveConnection* line, const std::vector<std::string>& paths,
               std::function<void()> endTransferMode);
    bool Running() const override { return m_sender.Running(); }
    TTransferProgress Progress() const override { return m_sender.Progress(); }

private:
    void Tick() override;
    void UserCancel() override;
    void LineLost() override { m_sender.TransportLost(); }
    // Any thread: the sending thread looks whether data is due.
    void PumpSoon();
    // What the sending thread is asked to do next.
    enum TWork : unsigned { kPump = 1, kTick = 2, kCancel = 4, kStop = 8 };
    void Ask(unsigned work);
    void PumpWhileDue();
    void StopPumping();

    TZmodemDiskSource m_files;
    TZmodemSender m_sender;
    std::mutex m_pumpMutex;
    std::condition_variable m_pumpWake;
    unsigned m_work = 0; // TWork bits; guarded by m_pumpMutex
    // Started last, after everything it uses.
    std::thread m_pumper;
};

} // namespace telvora
