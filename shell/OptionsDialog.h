#pragma once
// The options dialog: compressor, file format, quality, frame rate, key frames, cursor,
// minimise and restore, statistics, language, worker priority, time to
// record and sound, and the presets that set several of them in one step.
// Created once at start, after the main window, and shown
// modally by the main window's Options button. OK stores the edited values,
// hands them to the engine and writes the settings file; the language, the
// priority, the time to record and the sound inputs take effect as soon as
// they are chosen, and all but the language stay whichever button closes
// the dialog: Cancel goes back to the language it opened with. Its controls are made
// and laid out in OptionsDialogControls.cpp.

#include <QDialog>
#include <QString>
#include <string>
#include <vector>

#include "common/OutputFormats.h"
#include "shell/Presets.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;
class QSpinBox;

namespace velmora {

namespace engine {
struct AudioInputInfo;
}
class MainWindow;

class OptionsDialog : public QDialog {
    Q_OBJECT

  public:
    // Centred on the main window, whose engine and settings it edits.
    explicit OptionsDialog(MainWindow& mainWindow);
    ~OptionsDialog() override;

    // ---- control handlers (UI thread)
    // The settings and the engine's lists into the controls, before each showing.
    void LoadValues();
    void OkClicked();
    void CancelClicked();  // also Esc
    void ConfigureClicked();
    void CodecChosen();
    // The sound codecs the chosen file format holds, the chosen one kept
    // where it can be.
    void FileFormatChosen();
    void QualityChanged();
    void FrameRateChanged();
    void KeyFramesEdited();
    void PriorityChosen();
    void LanguageChosen();
    void TimeLimitToggled();
    void HoursChanged();
    void MinutesChanged();
    void SecondsChanged();
    void AudioRecordToggled();
    void AudioInputChosen(int index);
    void AudioVolumeChanged();
    void SecondAudioInputChosen();
    void SecondAudioVolumeChanged();
    // Sets the controls a preset governs; OK keeps them, Cancel drops them.
    void PresetChosen();

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void CreateControls();
    void FillLists();
    // The sound controls on or off: all with the sound box, the second
    // input's volume and the separate tracks only while one is chosen.
    void ShowAudioState();
    // The input lists from the mixer, the stored choices selected; the
    // first list ends with the entry that picks both inputs at once.
    void FillAudioInputs();
    // The item of the second list whose source is `source`, -1 when none.
    int SecondInputItem(const std::string& source) const;
    void ShowFrameRate(int fps);
    // The level change beside each volume slider in the language's words,
    // each label as wide as its widest figure so the sliders keep their
    // length.
    void ShowDecibels();
    // The user's format where the codec allows it, else AVI, said in the
    // note; MP4 is offered for every codec where H.264 is there to switch to.
    void ShowFileFormatsFor(int codecIndex);
    // The line under the format list: why the format is not the one the
    // user chose, that the codec was switched for MP4, or that browsers
    // play MP4 with H.264 only; hidden when there is nothing to say.
    void ShowFormatNote();
    void ShowSoundCodecs(SoundCodec wanted);
    OutputFormat ChosenFileFormat() const;
    SoundCodec ChosenSoundCodec() const;
    // What the lists showed when the dialog opened: a change drops a command
    // line's format still waiting for its recording.
    OutputFormat shownFormat_ = OutputFormat::Avi;
    SoundCodec shownSound_ = SoundCodec::Pcm;
    // The format and sound the user chose last: a codec that cannot go into
    // that format shows AVI for as long as it is chosen, and no longer.
    OutputFormat userFormat_ = OutputFormat::Avi;
    SoundCodec userSound_ = SoundCodec::Pcm;
    // The codec the choice of MP4 replaced by H.264; empty when none did.
    QString replacedCodec_;
    // The language when the dialog opened, for Cancel.
    std::string openedLanguage_;
    // The updates and statistics box: off, saying why, in a build without a
    // vendor server.
    void ShowReportsAvailability();
    // What the controls hold now, as a preset would set it.
    PresetChoices ShownChoices() const;
    // Selects the preset the controls match, else "Custom".
    void ShowMatchingPreset();
    // What the presets depend on, taken when the dialog opens.
    PresetContext presetContext_;
    // x264's preset as the dialog holds it: chosen with a preset or in the
    // compressor's own dialog, stored at OK.
    std::string x264Preset_ = kDefaultX264Preset;
    // The conversion error a text that is not a number gives.
    void ShowNotANumber(const QString& text);

    MainWindow& mainWindow_;

    // Quick settings: the presets, then "Custom", which only code selects.
    QLabel* presetLabel = nullptr;
    QComboBox* presetCombo = nullptr;
    // Video Settings
    QGroupBox* videoGroup = nullptr;
    QLabel* codecLabel = nullptr;
    QComboBox* codecCombo = nullptr;
    QPushButton* configureButton = nullptr;
    QLabel* fileFormatLabel = nullptr;
    QComboBox* fileFormatCombo = nullptr;
    QLabel* formatNote = nullptr;
    QLabel* qualityLabel = nullptr;
    QSlider* qualitySlider = nullptr;
    QLabel* qualityValue = nullptr;
    // Video Parameters:
    QGroupBox* parametersGroup = nullptr;
    QLabel* keyFramesLabel = nullptr;
    QSpinBox* keyFramesEdit = nullptr;
    // The key-frame box's text, typed and checked as in a text box.
    QLineEdit* keyFramesText = nullptr;
    QLabel* keyFramesUnit = nullptr;
    QLabel* frameRateLabel = nullptr;
    QSlider* frameRateSlider = nullptr;
    // Settings
    QGroupBox* settingsGroup = nullptr;
    QCheckBox* restoreCheck = nullptr;
    QCheckBox* minimizeCheck = nullptr;
    QCheckBox* cursorCheck = nullptr;
    QCheckBox* reportsCheck = nullptr;
    QLabel* languageLabel = nullptr;
    QComboBox* languageCombo = nullptr;
    QLabel* countdownLabel = nullptr;
    QSpinBox* countdownEdit = nullptr;
    QLabel* countdownUnit = nullptr;
    QCheckBox* trayCheck = nullptr;
    QCheckBox* notifyCheck = nullptr;
    // Time to record
    QGroupBox* timeLimitGroup = nullptr;
    QCheckBox* timeLimitCheck = nullptr;
    QLabel* hoursLabel = nullptr;
    QLabel* minutesLabel = nullptr;
    QLabel* secondsLabel = nullptr;
    QSpinBox* hoursEdit = nullptr;
    QSpinBox* minutesEdit = nullptr;
    QSpinBox* secondsEdit = nullptr;
    // Priority
    QGroupBox* priorityGroup = nullptr;
    QComboBox* priorityCombo = nullptr;
    // Audio
    QGroupBox* audioGroup = nullptr;
    QCheckBox* audioRecordCheck = nullptr;
    QLabel* audioFormatLabel = nullptr;
    QComboBox* audioFormatCombo = nullptr;
    QLabel* soundCodecLabel = nullptr;
    QComboBox* soundCodecCombo = nullptr;
    QLabel* audioInputLabel = nullptr;
    QComboBox* audioInputCombo = nullptr;
    QLabel* audioVolumeLabel = nullptr;
    QSlider* audioVolumeSlider = nullptr;
    QLabel* audioVolumeValue = nullptr;
    QLabel* audioVolumeDecibels = nullptr;
    // "Also record": the second input, "(none)" first; each item's data is
    // its source's name on the sound server.
    QLabel* audioInput2Label = nullptr;
    QComboBox* audioInput2Combo = nullptr;
    QLabel* audioVolume2Label = nullptr;
    QSlider* audioVolume2Slider = nullptr;
    QLabel* audioVolume2Value = nullptr;
    QLabel* audioVolume2Decibels = nullptr;
    QCheckBox* separateTracksCheck = nullptr;
    // The first list's item that picks the microphone and the system's
    // sound together, -1 where the mixer cannot name them.
    int bothInputsItem_ = -1;
    // The sound server's name of each input of the first list (empty where
    // the mixer is no server's).
    std::vector<std::string> inputSources_;

    QPushButton* okButton = nullptr;
    QPushButton* cancelButton = nullptr;
};

// The program's one options dialog while it exists.
extern OptionsDialog* TheOptionsDialog;

}  // namespace velmora
