#pragma once
// The options dialog: compressor, quality, frame rate, key frames, cursor,
// minimise and restore, statistics, language, worker priority, time to
// record and sound. Created once at start, after the main window, and shown
// modally by the main window's Options button. OK stores the edited values,
// hands them to the engine and writes the settings file; the language, the
// priority, the time to record and the sound input take effect as soon as
// they are chosen, whichever button closes the dialog.

#include <QDialog>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QSlider;
class QSpinBox;

namespace velmora {

namespace engine {
struct AudioInputInfo;
}
class TForm1;

class TOptionsForm : public QDialog {
    Q_OBJECT

  public:
    // Centred on the main window, whose engine and settings it edits.
    explicit TOptionsForm(TForm1& mainWindow);
    ~TOptionsForm() override;

    // ---- control handlers (UI thread)
    void FormShow();
    void sButton1Click();  // OK
    void Button3Click();   // Cancel, also Esc
    void Button1Click();   // Configure
    void VideoCodecsComboBox1Change();
    void VideoQuality_TrackBarChange();
    void FPS_TrackBarChange();
    void EditKeyFrames1Change();
    void ComboBox1Change();
    void ComboBox2Change();
    void CheckBox3Click();
    void sSpinEdit5Change();
    void sSpinEdit6Change();
    void sSpinEdit7Change();
    void AudioRecordCheckboxClick();
    void AudioInputComboBoxClick(int index);
    void AudioVolumeTrackBarChange();

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void CreateControls();
    void FormCreate();
    // The volume of the input the mixer has selected: shown when it has a
    // volume control (and the slider enabled when enable is set), otherwise
    // 0 on a disabled slider.
    void ShowInputVolume(const engine::AudioInputInfo& input, bool enable);
    void ShowFrameRate(int fps);
    // The conversion error a text that is not a number gives.
    void ShowNotANumber(const QString& text);

    TForm1& mainWindow_;

    // Video Settings
    QGroupBox* GroupBox4 = nullptr;
    QLabel* Label8 = nullptr;  // "Video Codecs:"
    QComboBox* VideoCodecsComboBox1 = nullptr;
    QPushButton* Button1 = nullptr;  // Configure
    QLabel* Label1 = nullptr;        // "Video Output Quality :"
    QSlider* VideoQuality_TrackBar = nullptr;
    QLabel* LabelQuality = nullptr;
    // Video Parameters:
    QGroupBox* GroupBox1 = nullptr;
    QLabel* Label2 = nullptr;  // "Set key frames every"
    QSpinBox* EditKeyFrames1 = nullptr;
    QLabel* Label3 = nullptr;  // "frames"
    QLabel* Label5 = nullptr;  // frame rate
    QSlider* FPS_TrackBar = nullptr;
    // Settings
    QGroupBox* GroupBox5 = nullptr;
    QCheckBox* CheckBox6 = nullptr;  // restore after capture
    QCheckBox* CheckBox5 = nullptr;  // minimise on start
    QCheckBox* CheckBox1 = nullptr;  // record cursor
    QCheckBox* CheckBox2 = nullptr;  // updates and statistics
    QLabel* Label4 = nullptr;        // "Language"
    QComboBox* ComboBox2 = nullptr;
    // Time to record
    QGroupBox* GroupBox2 = nullptr;
    QCheckBox* CheckBox3 = nullptr;
    QLabel* Label6 = nullptr;   // "Hour"
    QLabel* Label7 = nullptr;   // "Min"
    QLabel* Label12 = nullptr;  // "Sec"
    QSpinBox* sSpinEdit5 = nullptr;
    QSpinBox* sSpinEdit6 = nullptr;
    QSpinBox* sSpinEdit7 = nullptr;
    // Priority
    QGroupBox* GroupBox3 = nullptr;
    QComboBox* ComboBox1 = nullptr;
    // Audio
    QGroupBox* GroupBox6 = nullptr;
    QCheckBox* AudioRecordCheckbox = nullptr;
    QLabel* Label9 = nullptr;  // "Audio Format :"
    QComboBox* AudioFormatComboBox = nullptr;
    QLabel* Label11 = nullptr;  // "Audio Input :"
    QComboBox* AudioInputComboBox = nullptr;
    QLabel* Label10 = nullptr;  // "Audio Input Volume :"
    QSlider* AudioVolumeTrackBar = nullptr;
    QLabel* LabelVolume = nullptr;

    QPushButton* sButton1 = nullptr;  // OK
    QPushButton* Button3 = nullptr;   // Cancel
};

// The program's one options dialog while it exists.
extern TOptionsForm* OptionsForm;

}  // namespace velmora
