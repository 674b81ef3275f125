#include "transfer/transfer_request.h"

#include "transfer/block_receiver.h"
#include "transfer/block_sender.h"
#include "transfer/receiver_files.h"
#include "transfer/sender_files.h"
#include "transfer/zmodem/zmodem_files.h"
#include "transfer/zmodem/zmodem_sender.h"

#include <type_traits>

namespace telvora {

namespace {

// What every protocol's machine shares: its files, which must outlive the
// state machine that uses them (made first), and the same names for the
// same steps. A machine that takes every byte while it runs says nothing
// of how many.
template <typename Machine, typename Files> class TMachineOf : public TTransferMachine {
public:
    TMachineOf(const TTransferRequest& request, TTransferPort& port)
        : m_request(request), m_machine(port, m_files) {}
    std::size_t Receive(const std::uint8_t* data, std::size_t count) override {
        if constexpr (std::is_void_v<decltype(m_machine.ReceiveChunk(data, count))>) {
            // Once it has ended, the bytes are the screen's (or a drain's).
            if (!m_machine.Running()) {
                return 0;
            }
            m_machine.ReceiveChunk(data, count);
            return count;
        } else {
            return m_machine.ReceiveChunk(data, count);
        }
    }
    void Tick() override { m_machine.TimeoutTimer(); }
    void Cancel() override { m_machine.UserCancel(); }
    void LineLost() override { m_machine.TransportLost(); }
    void LineSilent() override { m_machine.LineSilent(); }
    bool Running() const override { return m_machine.Running(); }
    TTransferProgress Progress() const override { return m_machine.Progress(); }

protected:
    const TTransferRequest m_request;
    Files m_files;
    Machine m_machine;
};

class TBlockDownload : public TMachineOf<TBlockReceiver, TDiskFiles> {
public:
    using TMachineOf::TMachineOf;
    void Start() override {
        switch (m_request.kind) {
        case TTransferKind::ReceiveFile:
            m_machine.StartSingle(m_request.where);
            return;
        case TTransferKind::ReceiveStreamedBatch:
            m_machine.StartBatch(m_request.where, true);
            return;
        default:
            m_machine.StartBatch(m_request.where);
            return;
        }
    }
};

class TBlockUpload : public TMachineOf<TBlockSender, TDiskSource> {
public:
    using TMachineOf::TMachineOf;
    void Start() override { m_machine.Start(m_request.protocol, m_request.files); }
};

class TZmodemDownload : public TMachineOf<TZmodemReceiver, TZmodemDiskFiles> {
public:
    TZmodemDownload(const TTransferRequest& request, TTransferPort& port)
        : TMachineOf(request, port) {
        m_machine.SetAskExisting([&port](const std::string& path) { port.AskExisting(path); });
    }
    void Start() override {
        m_machine.Start(m_request.where, m_request.existing, m_request.senderBegan);
    }
    void Answer(TExistingFile choice) override { m_machine.Choose(choice); }
};

class TZmodemUpload : public TMachineOf<TZmodemSender, TZmodemDiskSource> {
public:
    using TMachineOf::TMachineOf;
    void Start() override { m_machine.Start(m_request.files); }
    bool Streams() const override { return true; }
    bool Pump() override { return m_machine.Pump(); }
};

} // namespace

std::unique_ptr<TTransferMachine> MakeTransferMachine(const TTransferRequest& request,
                                                      TTransferPort& port) {
    switch (request.kind) {
    case TTransferKind::ReceiveFile:
    case TTransferKind::ReceiveBatch:
    case TTransferKind::ReceiveStreamedBatch:
        return std::make_unique<TBlockDownload>(request, port);
    case TTransferKind::SendBlocks:
        return std::make_unique<TBlockUpload>(request, port);
    case TTransferKind::ReceiveZmodem:
        return std::make_unique<TZmodemDownload>(request, port);
    case TTransferKind::SendZmodem:
        return std::make_unique<TZmodemUpload>(request, port);
    }
    return nullptr;
}

} // namespace telvora
