// SIGTERM, SIGINT and SIGHUP raised in this process reach the event loop as
// `received`, once per delivery with the signal's number; once the object
// is gone the signals have their default action again.

#include <gtest/gtest.h>
#include <signal.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <vector>

#include "shell/TerminationSignals.h"

namespace velmora {
namespace {

// Turns the event loop until `wanted` numbers have come or two seconds have
// passed, then a few more times, so that a second emission of one delivery
// would be seen too.
void PumpUntil(const std::vector<int>& received, std::size_t wanted) {
    QElapsedTimer clock;
    clock.start();
    while (received.size() < wanted && clock.elapsed() < 2000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

TEST(TerminationSignals, EachSignalReachesTheLoopOnceAndTheDefaultIsBackAfterwards) {
    constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};
    std::vector<int> received;
    {
        TerminationSignals handler;
        ASSERT_TRUE(handler.Installed());
        QObject::connect(&handler, &TerminationSignals::received,
                         [&](int number) { received.push_back(number); });
        for (const int number : kSignals) {
            SCOPED_TRACE(SignalName(number).toStdString());
            received.clear();
            ASSERT_EQ(::raise(number), 0);
            PumpUntil(received, 1);
            EXPECT_EQ(received, std::vector<int>{number});
        }
        // Two deliveries before the loop turns are two emissions, in order.
        received.clear();
        ASSERT_EQ(::raise(SIGHUP), 0);
        ASSERT_EQ(::raise(SIGTERM), 0);
        PumpUntil(received, 2);
        EXPECT_EQ(received, (std::vector<int>{SIGHUP, SIGTERM}));
    }
    for (const int number : kSignals) {
        struct sigaction now {};
        ASSERT_EQ(::sigaction(number, nullptr, &now), 0);
        EXPECT_EQ(now.sa_handler, SIG_DFL) << SignalName(number).toStdString();
    }
}

}  // namespace
}  // namespace velmora
