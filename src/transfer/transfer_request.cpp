#include "transfer/transfer_request.h"

#include "transfer/block_receiver.h"
#include "transfer/block_sender.h"
#include "transfer/receiver_files.h"
#include "transfer/sender_files.h"
#include "transfer/zmodem/zmodem_files.h"
#include "transfer/zmodem/zmodem_sender.h"

namespace telvora {

namespace {

// The machines as the run drives them: each owns its files, which must
// outlive the state machine that uses them (declared first).
class TBlockDownload : public TTransferMachine {
public:
    TBlockDownload(const TTransferRequest& request, TTransferPort& port)
        : m_request(request), m_receiver(port, m_files) {}
    void Start() override {
        switch (m_request.kind) {
        case TTransferKind::ReceiveFile:
            m_receiver.StartSingle(m_request.where);
            return;
        case TTransferKind::ReceiveStreamedBatch:
            m_receiver.StartBatch(m_request.where, true);
            return;
        default:
            m_receiver.StartBatch(m_request.where);
            return;
        }
    }
    std::size_t Receive(const std::uint8_t* data, std::size_t count) override {
        m_receiver.ReceiveChunk(data, count);
        return count;
    }
    void Tick() override { m_receiver.TimeoutTimer(); }
    void Cancel() override { m_receiver.UserCancel(); }
    void LineLost() override { m_receiver.TransportLost(); }
    bool Running() const override { return m_receiver.Running(); }
    TTransferProgress Progress() const override { return m_receiver.Progress(); }

private:
    const TTransferRequest m_request;
    TDiskFiles m_files;
    TBlockReceiver m_receiver;
};

class TBlockUpload : public TTransferMachine {
public:
    TBlockUpload(const TTransferRequest& request, TTransferPort& port)
        : m_request(request), m_sender(port, m_files) {}
    void Start() override { m_sender.Start(m_request.protocol, m_request.files); }
    std::size_t Receive(const std::uint8_t* data, std::size_t count) override {
        m_sender.ReceiveChunk(data, count);
        return count;
    }
    void Tick() override { m_sender.TimeoutTimer(); }
    void Cancel() override { m_sender.UserCancel(); }
    void LineLost() override { m_sender.TransportLost(); }
    bool Running() const override { return m_sender.Running(); }
    TTransferProgress Progress() const override { return m_sender.Progress(); }

private:
    const TTransferRequest m_request;
    TDiskSource m_files;
    TBlockSender m_sender;
};

class TZmodemDownload : public TTransferMachine {
public:
    TZmodemDownload(const TTransferRequest& request, TTransferPort& port)
        : m_request(request), m_receiver(port, m_files) {
        m_receiver.SetAskExisting([&port](const std::string& path) { port.AskExisting(path); });
    }
    void Start() override { m_receiver.Start(m_request.where, m_request.existing); }
    std::size_t Receive(const std::uint8_t* data, std::size_t count) override {
        return m_receiver.ReceiveChunk(data, count);
    }
    void Tick() override { m_receiver.TimeoutTimer(); }
    void Cancel() override { m_receiver.UserCancel(); }
    void LineLost() override { m_receiver.TransportLost(); }
    void Answer(TExistingFile choice) override { m_receiver.Choose(choice); }
    bool Running() const override { return m_receiver.Running(); }
    TTransferProgress Progress() const override { return m_receiver.Progress(); }

private:
    const TTransferRequest m_request;
    TZmodemDiskFiles m_files;
    TZmodemReceiver m_receiver;
};

class TZmodemUpload : public TTransferMachine {
public:
    TZmodemUpload(const TTransferRequest& request, TTransferPort& port)
        : m_request(request), m_sender(port, m_files) {}
    void Start() override { m_sender.Start(m_request.files); }
    std::size_t Receive(const std::uint8_t* data, std::size_t count) override {
        return m_sender.ReceiveChunk(data, count);
    }
    void Tick() override { m_sender.TimeoutTimer(); }
    void Cancel() override { m_sender.UserCancel(); }
    void LineLost() override { m_sender.TransportLost(); }
    bool Streams() const override { return true; }
    bool Pump() override { return m_sender.Pump(); }
    bool Running() const override { return m_sender.Running(); }
    TTransferProgress Progress() const override { return m_sender.Progress(); }

private:
    const TTransferRequest m_request;
    TZmodemDiskSource m_files;
    TZmodemSender m_sender;
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
