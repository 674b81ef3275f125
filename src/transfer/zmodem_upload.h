#pragma once

#include "common/hand_over.h"
#include "transfer/transfer_window.h"
#include "transfer/zmodem/zmodem_files.h"
#include "transfer/zmodem/zmodem_sender.h"

#include <atomic>
#include <functional>
#include <string>
#include <vector>

namespace telvora {

// The ZMODEM upload window, which owns the ZMODEM sender. The sender streams:
// its data goes out in slices on this thread for as long as it has data due,
// so that the receiver's replies and the user's cancel are seen in between
// and the window stays responsive.
class TZmodemUpload : public TTransferWindow {
    Q_OBJECT

public:
    // The longest a slice of sending keeps this thread.
    static constexpr int kSliceMs = 10;

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
    void UserCancel() override { m_sender.UserCancel(); }
    void LineLost() override { m_sender.TransportLost(); }
    // Any thread: a slice of sending is queued unless one already is.
    void PumpSoon();
    void PumpSlice();

    TZmodemDiskSource m_files;
    TZmodemSender m_sender;
    std::atomic<bool> m_pumpQueued{false};
    // Declared last: no slice runs on a half-gone window.
    THandOver m_pump;
};

} // namespace telvora
