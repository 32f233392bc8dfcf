#pragma once
// The main window: created first, and closing it ends the program. Its
// creation does the program's start-up (settings, hot keys, language), its
// first showing reads the command line, and closing it saves the settings.

#include <QMainWindow>
#include <array>
#include <memory>

#include "shell/EngineSettings.h"

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QStatusBar;
class QTimer;
class QToolButton;

namespace velmora {

class HotKeyFilter;

class TForm1 : public QMainWindow {
    Q_OBJECT

  public:
    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;

    // Hands the settings to the recording engine; also refreshes the window's
    // copy of the capture area.
    void ApplySettings();
    // Writes the settings file; on failure shows "Unable to write to <file>"
    // and returns false.
    bool SaveSettings();

    // What the engine was given by the last ApplySettings.
    const EngineSettings& engineSettings() const { return engineSettings_; }
    // The capture area as Left, Top, Width, Height.
    std::array<int, 4> CaptureArea{};
    // Whether start-up or the command line asked for a recording.
    bool recordRequested() const { return recordRequested_; }
    // Whether F9 and F10 could be grabbed (another program may own them).
    bool hotKeysRegistered() const { return hotKeysRegistered_; }

  protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    void CreateControls();
    void FormCreate();
    void FormShow();
    // A press of a registered global hot key.
    void HotKeyPressed(int virtualKey);
    void Timer2Timer();

    QToolButton* Button4 = nullptr;  // specific area
    QLabel* Image1 = nullptr;
    QToolButton* Button5 = nullptr;  // full screen
    QLabel* Image2 = nullptr;
    QToolButton* Button1 = nullptr;        // record / stop
    QToolButton* Button3 = nullptr;        // options
    QToolButton* sSpeedButton1 = nullptr;  // leave
    QToolButton* AboutButton = nullptr;
    QLabel* Label1 = nullptr;
    QToolButton* FilesButton = nullptr;
    QLineEdit* Edit8 = nullptr;
    QPushButton* Button2 = nullptr;  // cancels a merge
    QProgressBar* sProgressBar1 = nullptr;
    QStatusBar* sStatusBar1 = nullptr;
    QLabel* statusPanel_ = nullptr;
    QToolButton* sButton2 = nullptr;  // companion panel strip
    QTimer* Timer1 = nullptr;
    QTimer* Timer2 = nullptr;

    std::unique_ptr<HotKeyFilter> hotKeys_;
    bool hotKeysRegistered_ = false;
    bool recordRequested_ = false;
    bool firstRun_ = false;
    EngineSettings engineSettings_;
};

}  // namespace velmora
