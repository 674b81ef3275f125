#pragma once

#include <QObject>
#include <QThread>

#include <functional>
#include <memory>

namespace telvora {

// Runs steps on the thread that created it (the owner thread, normally the
// user-interface thread) for workers on other threads. It is the one way a
// worker gets something done there: the movie player's writes, the status
// line's rounds, the serial port's events, the socket's events and the
// screen's repaint requests all go through one of these.
//
// Once the owner has begun shutting down (ShutDown, or the destructor) every
// request is refused: a worker waiting for a step is woken at once, steps that
// have not started are dropped, and no later request is queued. A step that
// has already started on the owner thread is waited for, unless the shutdown
// comes from inside that step (a handler that closes its own component): its
// worker is then released at once, as the step cannot finish before the
// worker has gone.
//
// Called on the owner thread itself, a step runs at once (no deadlock).
class THandOver;

// For a component that is going away and leaves a last step behind (its own
// hand-over goes with it): runs step later on the thread of context, from any
// thread; dropped if context is destroyed first.
void PostToThreadOf(QObject* context, std::function<void()> step);

class THandOver {
public:
    // The owner thread is the given one (the thread of the component the
    // steps belong to), by default the creating thread.
    explicit THandOver(QThread* owner = nullptr);
    ~THandOver();
    THandOver(const THandOver&) = delete;
    THandOver& operator=(const THandOver&) = delete;

    // Runs step on the owner thread and waits until it has run. Returns
    // false, without running it, when shutdown has begun before it started.
    // What the step throws is thrown again here, on the caller's thread.
    bool RunAndWait(std::function<void()> step);
    // Queues step for the owner thread and returns at once; false when
    // refused. The step is dropped if shutdown begins before it runs.
    bool Post(std::function<void()> step);
    // On the owner thread runs step at once (also while it shuts down: the
    // owner is the one closing); from another thread, as Post.
    void RunOrPost(std::function<void()> step);

    // Refuses every request from now on and wakes every waiting worker. Any
    // thread; idempotent.
    void ShutDown();
    bool ShuttingDown() const;
    bool OnOwnerThread() const;

    struct TState;
    struct TRequest;
    // On the owner thread: runs the oldest queued request.
    static void RunNext(TState& state);

private:
    std::shared_ptr<TRequest> Queue(std::function<void()> step);

    std::shared_ptr<TState> m_state;
    // Lives on the owner thread; posted steps are delivered to it.
    QObject* m_context;
};

} // namespace telvora
