#pragma once
// Sound failures reach the user: an error that escapes the sound device's
// notification handling (a start that fails, a source that vanishes, a full
// disk under the sound file) or a device that does not open is shown in the
// application's error message box and written to the log. The audio threads
// only hand the text over; both happen on the UI thread.

#include <QPointer>
#include <QString>
#include <QWidget>
#include <memory>

namespace velmora {

class SoundErrorReporter {
  public:
    SoundErrorReporter();   // installs itself as the audio exception reporter
    ~SoundErrorReporter();  // and uninstalls
    SoundErrorReporter(const SoundErrorReporter&) = delete;
    SoundErrorReporter& operator=(const SoundErrorReporter&) = delete;

    // The window the message boxes belong to.
    void SetWindow(QWidget* window);

    // What one report does on the UI thread (public for the tests).
    void Show(const QString& text);

  private:
    struct State;
    std::shared_ptr<State> state_;
};

}  // namespace velmora
