#include "app/signal_watch.h"

#include <QSocketNotifier>

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>

namespace telvora {

namespace {

constexpr std::array<int, 3> kWatched = {SIGTERM, SIGINT, SIGHUP};
// Written by the handler, read by the watch: the pipe's two ends.
std::atomic<int> g_writeEnd{-1};
int g_readEnd = -1;
std::atomic<int> g_caught{0};

extern "C" void NoteSignal(int signal) {
    const int saved = errno;
    g_caught = signal;
    const int fd = g_writeEnd.load();
    if (fd >= 0) {
        const unsigned char number = static_cast<unsigned char>(signal);
        // Nothing to do when the pipe is full: a signal is already waiting.
        static_cast<void>(::write(fd, &number, 1));
    }
    errno = saved;
}

void Handle(void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : kWatched) {
        ::sigaction(signal, &action, nullptr);
    }
}

} // namespace

TSignalWatch::TSignalWatch(QObject* parent) : QObject(parent) {
    int ends[2] = {-1, -1};
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
        return; // the signals keep ending the program at once
    }
    g_readEnd = ends[0];
    g_writeEnd = ends[1];
    m_notifier = std::make_unique<QSocketNotifier>(ends[0], QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &TSignalWatch::Read);
    Handle(NoteSignal);
}

TSignalWatch::~TSignalWatch() {
    if (!m_notifier) {
        return;
    }
    Handle(SIG_DFL);
    m_notifier.reset();
    const int writeEnd = g_writeEnd.exchange(-1);
    ::close(writeEnd);
    ::close(g_readEnd);
    g_readEnd = -1;
}

int TSignalWatch::Caught() {
    return g_caught.load();
}

void TSignalWatch::EndAsSignalled(int signal) {
    std::signal(signal, SIG_DFL);
    std::raise(signal);
    std::_Exit(128 + signal);
}

void TSignalWatch::Read() {
    unsigned char number = 0;
    while (::read(g_readEnd, &number, 1) == 1) {
        Q_EMIT SignalCaught(number);
    }
}

} // namespace telvora
