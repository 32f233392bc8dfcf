// Sound failures reported on the audio threads reach the user on the UI
// thread: an error box owned by the main window and a log line, once per
// failure even when the device reports it for every buffer.

#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <thread>

#include "audio/WaveUtils.h"
#include "common/EventLog.h"
#include "shell/SoundErrorReporter.h"

namespace velmora {
namespace {

void Report(const char* text) {
    audio::ReportWaveException(audio::EWaveAudioSysError(text));
}

TEST(SoundErrorReporter, AudioThreadFailuresReachTheUserOnce) {
    QStringList lines;
    ProgramLog().SetStatusSink([&lines](const QString& text) { lines << text; });
    QWidget window;
    auto boxes = [&window] { return window.findChildren<QMessageBox*>("SoundErrorBox"); };
    {
        SoundErrorReporter reporter;
        reporter.SetWindow(&window);
        std::thread audioThread([] {
            Report("No sound input is available.");
            Report("No sound input is available.");
        });
        audioThread.join();
        EXPECT_TRUE(lines.isEmpty());  // nothing is done on the audio thread
        QApplication::processEvents();
        ASSERT_EQ(boxes().size(), 1);
        QMessageBox* box = boxes().front();
        EXPECT_EQ(box->text(), "No sound input is available.");
        EXPECT_EQ(box->icon(), QMessageBox::Critical);
        EXPECT_EQ(box->windowTitle(), QCoreApplication::applicationName());
        EXPECT_TRUE(box->isVisible());
        EXPECT_EQ(lines, QStringList{"Sound recording stopped: No sound input is available."});

        Report("An unknown error occurred in the sound input.");
        QApplication::processEvents();
        EXPECT_EQ(boxes().size(), 2);
        EXPECT_EQ(lines.size(), 2);

        // Once the user has closed its box, the same failure is told again.
        for (QMessageBox* b : boxes()) b->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_TRUE(boxes().isEmpty());
        Report("No sound input is available.");
        QApplication::processEvents();
        EXPECT_EQ(boxes().size(), 1);
        EXPECT_EQ(lines.size(), 3);
        for (QMessageBox* b : boxes()) b->close();
    }
    // Gone with the reporter: a late report shows nothing.
    Report("No sound input is available.");
    QApplication::processEvents();
    EXPECT_EQ(lines.size(), 3);
    ProgramLog().SetStatusSink(nullptr);
}

}  // namespace
}  // namespace velmora
