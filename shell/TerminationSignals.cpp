#include "shell/TerminationSignals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>

namespace velmora {
namespace {

int signalPipe[2] = {-1, -1};
constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

void OnSignal(int number) {
    // Only async-signal-safe calls here.
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(number);
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
    errno = saved;
}

}  // namespace

TerminationSignals::TerminationSignals(QObject* parent) : QObject(parent) {
    if (signalPipe[0] < 0 && ::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    struct sigaction action {};
    action.sa_handler = &OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int number : kSignals)
        if (::sigaction(number, &action, nullptr) != 0) return;
    notifier_ = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &TerminationSignals::ReadPipe);
}

TerminationSignals::~TerminationSignals() {
    // Back to the defaults: a signal after this ends the process as usual.
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (const int number : kSignals) ::sigaction(number, &action, nullptr);
}

void TerminationSignals::ReadPipe() {
    unsigned char bytes[16];
    for (;;) {
        const ssize_t n = ::read(signalPipe[0], bytes, sizeof bytes);
        if (n <= 0) break;
        for (ssize_t i = 0; i < n; ++i) emit received(bytes[i]);
    }
}

QString SignalName(int signalNumber) {
    switch (signalNumber) {
        case SIGTERM:
            return QStringLiteral("SIGTERM");
        case SIGINT:
            return QStringLiteral("SIGINT");
        case SIGHUP:
            return QStringLiteral("SIGHUP");
        default:
            return QStringLiteral("signal %1").arg(signalNumber);
    }
}

}  // namespace velmora
