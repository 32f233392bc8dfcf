#pragma once
// SIGTERM, SIGINT and SIGHUP (a logout, a shutdown, Ctrl+C, a closed
// terminal) as a Qt signal on the UI thread. The handler only writes the
// signal's number into a pipe; everything else runs in the event loop.

#include <QObject>

class QSocketNotifier;

namespace velmora {

class TerminationSignals : public QObject {
    Q_OBJECT

  public:
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;
    // False when the pipe or the handlers could not be set up.
    bool Installed() const { return notifier_ != nullptr; }

  signals:
    // The signal's number (SIGTERM, SIGINT, SIGHUP), once per delivery.
    void received(int signalNumber);

  private:
    void ReadPipe();

    QSocketNotifier* notifier_ = nullptr;
};

// "SIGTERM", "SIGINT", "SIGHUP" or "signal <n>".
QString SignalName(int signalNumber);

}  // namespace velmora
