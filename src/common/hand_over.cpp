#include "common/hand_over.h"

#include <QMetaObject>
#include <QThread>

#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <vector>

namespace telvora {

struct THandOver::TRequest {
    std::function<void()> Step;
    bool Started = false;
    bool Finished = false;
    // The owner shut down from inside this step: its worker is let go.
    bool Abandoned = false;
    std::exception_ptr Failure;
};

struct THandOver::TState {
    std::mutex Mutex;
    std::condition_variable Changed;
    bool ShutDown = false;
    // Requests on their way to the owner thread, oldest first. They travel
    // here, under the mutex, and not inside the queued call: a call that
    // carries no data keeps ThreadSanitizer able to follow every hand-over.
    std::deque<std::shared_ptr<TRequest>> Queued;
    // Steps running on the owner thread, innermost last (steps may nest
    // through a nested event loop).
    std::vector<std::shared_ptr<TRequest>> Running;
};

// The owner thread's end: each queued call runs the oldest waiting request.
class THandOverContext : public QObject {
    Q_OBJECT

public:
    explicit THandOverContext(std::shared_ptr<THandOver::TState> state)
        : m_state(std::move(state)) {}

    Q_INVOKABLE void RunNext() { THandOver::RunNext(*m_state); }

private:
    std::shared_ptr<THandOver::TState> m_state;
};

void PostToThreadOf(QObject* context, std::function<void()> step) {
    QMetaObject::invokeMethod(context, std::move(step), Qt::QueuedConnection);
}

THandOver::THandOver(QThread* owner)
    : m_state(std::make_shared<TState>()), m_context(new THandOverContext(m_state)) {
    if (owner != nullptr && owner != QThread::currentThread()) {
        m_context->moveToThread(owner);
    }
}

THandOver::~THandOver() {
    ShutDown();
    bool running = false;
    {
        std::lock_guard lock(m_state->Mutex);
        running = !m_state->Running.empty();
    }
    // Calls still queued for the context go with it. Inside one of its own
    // steps (or on another thread) it may only go later.
    if (OnOwnerThread() && !running) {
        delete m_context;
    } else {
        m_context->deleteLater();
    }
}

bool THandOver::OnOwnerThread() const {
    return QThread::currentThread() == m_context->thread();
}

bool THandOver::ShuttingDown() const {
    std::lock_guard lock(m_state->Mutex);
    return m_state->ShutDown;
}

void THandOver::ShutDown() {
    const bool fromOwner = OnOwnerThread();
    {
        std::lock_guard lock(m_state->Mutex);
        m_state->ShutDown = true;
        m_state->Queued.clear();
        if (fromOwner) {
            for (const auto& running : m_state->Running) {
                running->Abandoned = true;
            }
        }
    }
    m_state->Changed.notify_all();
}

void THandOver::RunNext(TState& state) {
    std::shared_ptr<TRequest> request;
    {
        std::lock_guard lock(state.Mutex);
        if (state.ShutDown || state.Queued.empty()) {
            return;
        }
        request = std::move(state.Queued.front());
        state.Queued.pop_front();
        request->Started = true;
        state.Running.push_back(request);
    }
    std::exception_ptr failure;
    try {
        request->Step();
    } catch (...) {
        failure = std::current_exception();
    }
    {
        std::lock_guard lock(state.Mutex);
        // Handed over whole: once the worker is woken the owner thread holds no
        // reference to the exception, so the worker alone frees it.
        request->Failure = std::move(failure);
        request->Finished = true;
        std::erase(state.Running, request);
    }
    state.Changed.notify_all();
}

std::shared_ptr<THandOver::TRequest> THandOver::Queue(std::function<void()> step) {
    auto request = std::make_shared<TRequest>();
    request->Step = std::move(step);
    {
        std::lock_guard lock(m_state->Mutex);
        if (m_state->ShutDown) {
            return nullptr;
        }
        m_state->Queued.push_back(request);
    }
    QMetaObject::invokeMethod(m_context, "RunNext", Qt::QueuedConnection);
    return request;
}

bool THandOver::Post(std::function<void()> step) {
    return Queue(std::move(step)) != nullptr;
}

void THandOver::RunOrPost(std::function<void()> step) {
    if (OnOwnerThread()) {
        step();
    } else {
        Post(std::move(step));
    }
}

bool THandOver::RunAndWait(std::function<void()> step) {
    if (OnOwnerThread()) {
        if (ShuttingDown()) {
            return false;
        }
        step();
        return true;
    }
    const std::shared_ptr<TRequest> request = Queue(std::move(step));
    if (!request) {
        return false;
    }
    std::unique_lock lock(m_state->Mutex);
    m_state->Changed.wait(lock, [&] {
        return request->Finished || request->Abandoned || (m_state->ShutDown && !request->Started);
    });
    if (!request->Finished) {
        return false;
    }
    std::exception_ptr failure = std::move(request->Failure);
    lock.unlock();
    if (failure) {
        std::rethrow_exception(failure);
    }
    return true;
}

} // namespace telvora

#include "hand_over.moc"
