#include "shell/OptionsDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QShowEvent>
#include <QSlider>
#include <QSpinBox>
#include <QStandardItemModel>
#include <algorithm>
#include <cmath>

#include "common/EventLog.h"
#include "common/Language.h"
#include "common/ProgramFolder.h"
#include "common/Settings.h"
#include "common/VolumeLaw.h"
#include "engine/ScreenCamera.h"
#include "shell/EngineSettings.h"
#include "shell/MainWindow.h"

namespace velmora {
namespace {

// The names of the language files in the program's Language folder, sorted
// by name (a directory listing here has no order of its own).
QStringList LanguageNames() {
    const QDir folder(QString::fromStdString(ProgramFolder()) + QStringLiteral("Language/"));
    QStringList names;
    for (const QFileInfo& file :
         folder.entryInfoList({QStringLiteral("*.lng")}, QDir::Files, QDir::Name))
        if (file.isFile()) names << file.fileName().chopped(4);
    return names;
}

// "-18.1 dB": the level change of a volume slider at percent.
QString DecibelsText(int percent) {
    const QLocale locale = LanguageLocale();
    const double decibels = VolumeDecibels(percent);
    const QString figure = std::isinf(decibels) ? locale.negativeSign() + QChar(0x221E)
                                                : locale.toString(decibels, 'f', 1);
    return MsgTextOr(44, "%1 dB").arg(figure);
}

QStringList ToQStringList(const std::vector<std::string>& items) {
    QStringList list;
    for (const std::string& item : items) list << QString::fromStdString(item);
    return list;
}

}  // namespace

OptionsDialog* TheOptionsDialog = nullptr;

OptionsDialog::OptionsDialog(MainWindow& mainWindow)
    : QDialog(&mainWindow, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      mainWindow_(mainWindow) {
    TheOptionsDialog = this;
    setObjectName(QStringLiteral("OptionsDialog"));
    setWindowTitle(QStringLiteral("Options"));
    CreateControls();
    FillLists();
}

OptionsDialog::~OptionsDialog() {
    if (TheOptionsDialog == this) TheOptionsDialog = nullptr;
    SetLanguageWindow(LanguageWindow::Options, nullptr);
}

void OptionsDialog::FillLists() {
    codecCombo->addItems(ToQStringList(Settings.CompressorNames));
    codecCombo->setCurrentIndex(Settings.CodecIndex);
    for (QSpinBox* spin : {hoursEdit, minutesEdit, secondsEdit}) spin->setEnabled(false);

    // Each language in its own words; the file's name is what is stored.
    for (const QString& name : LanguageNames())
        languageCombo->addItem(LanguageTitle(name.toStdString()), name);
    // Exact names: "english" in the settings file is not "English".
    const int language =
        languageCombo->findData(QString::fromStdString(Settings.Language), Qt::UserRole,
                                Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (language >= 0) {
        languageCombo->setCurrentIndex(language);
    } else {
        WriteLog(LogTexts(6));
        Settings.Language = "English";
        languageCombo->setCurrentIndex(-1);
    }
    ApplyLanguage();
    ShowDecibels();
}

void OptionsDialog::showEvent(QShowEvent* event) {
    // Filled before the dialog appears, so it never shows stale values.
    if (!event->spontaneous()) {
        LoadValues();
        // Sized for the texts just set before the dialog is centred.
        layout()->activate();
    }
    QDialog::showEvent(event);
}

void OptionsDialog::LoadValues() {
    engine::TScreenCamera& camera = *mainWindow_.Camera();
    openedLanguage_ = Settings.Language;

    codecCombo->setCurrentIndex(Settings.CodecIndex);
    cursorCheck->setChecked(Settings.CaptureCursor);
    reportsCheck->setChecked(Settings.SendStats);
    ShowReportsAvailability();
    minimizeCheck->setChecked(Settings.MinimizeCapture);
    restoreCheck->setChecked(Settings.RestoreAfterRecord);
    trayCheck->setChecked(Settings.TrayIcon);
    notifyCheck->setChecked(Settings.NotifySaved);
    countdownEdit->setValue(Settings.Countdown);
    frameRateSlider->setValue(Settings.VideoFPS);
    keyFramesText->setText(QString::number(Settings.KeyFramesFreq));
    qualitySlider->setValue(Settings.VideoQuality);
    audioRecordCheck->setChecked(Settings.AudioRecordEnable);
    audioFormatCombo->setCurrentIndex(Settings.AudioFormatIndex);
    audioInputCombo->setCurrentIndex(Settings.AudioInputIndex);
    // Our own gain, the same for every input: the input's volume is the desktop's.
    audioVolumeSlider->setValue(Settings.AudioInputGain);
    audioVolume2Slider->setValue(Settings.AudioInput2Volume);
    separateTracksCheck->setChecked(Settings.AudioSeparateTracks);

    ShowFrameRate(Settings.VideoFPS);
    // The user's own: a command line's format is for its recording only.
    userFormat_ = Settings.FileFormat;
    userSound_ = Settings.AudioCodec;
    replacedCodec_.clear();
    fileFormatCombo->setCurrentIndex(
        fileFormatCombo->findData(static_cast<int>(Settings.FileFormat)));
    ShowFileFormatsFor(Settings.CodecIndex);
    shownFormat_ = ChosenFileFormat();
    shownSound_ = ChosenSoundCodec();
    qualityValue->setText(QString::number(Settings.VideoQuality) + u'%');

    // What the dialog shows is what is stored and what the next recording
    // records; the engine's and the mixer's own choice only where nothing
    // is stored.
    audioFormatCombo->clear();
    audioFormatCombo->addItems(ToQStringList(camera.ListAudioFormats()));
    audioFormatCombo->setCurrentIndex(Settings.AudioFormatIndex >= 0 ? Settings.AudioFormatIndex
                                                                     : camera.AudioFormatIndex);

    FillAudioInputs();

    frameRateSlider->setValue(static_cast<int>(camera.FramesPerSecond));
    qualitySlider->setValue(Settings.VideoQuality);
    keyFramesText->setText(QString::asprintf("%d", camera.KeyFrameEvery));

    timeLimitCheck->setChecked(Settings.RecordTimeEnabled);
    hoursEdit->setValue(Settings.RecordHours);
    minutesEdit->setValue(Settings.RecordMinutes);
    secondsEdit->setValue(Settings.RecordSeconds);

    x264Preset_ = Settings.X264Preset;
    presetContext_ = mainWindow_.PresetSurroundings();
    ShowMatchingPreset();
}

void OptionsDialog::FillAudioInputs() {
    engine::TScreenCamera& camera = *mainWindow_.Camera();
    const engine::AudioInputInfo input = camera.ListAudioInputs();
    audioInputCombo->clear();
    audioInput2Combo->clear();
    inputSources_.clear();
    bothInputsItem_ = -1;
    audioInput2Combo->addItem(MsgTexts(30).isEmpty() ? QStringLiteral("(none)") : MsgTexts(30),
                              QString());
    if (input.names) {
        audioInputCombo->addItems(ToQStringList(*input.names));
        Settings.AudioInputIndex = ChosenAudioInput(Settings, *input.names);
        for (std::size_t i = 0; i < input.names->size(); ++i) {
            const std::string source =
                input.sources && i < input.sources->size() ? (*input.sources)[i] : std::string();
            inputSources_.push_back(source);
            // Only a sound server's source can be recorded beside another.
            if (!source.empty())
                audioInput2Combo->addItem(QString::fromStdString((*input.names)[i]),
                                          QString::fromStdString(source));
        }
    }
    const int stored = Settings.AudioInputIndex;
    audioInputCombo->setCurrentIndex(
        stored >= 0 && stored < audioInputCombo->count() ? stored : input.selected);
    // Both at once, where the server can name its microphone and the
    // monitor of what it plays.
    std::string microphone, monitor;
    if (camera.DefaultAudioInputs(microphone, monitor) && !microphone.empty() && !monitor.empty() &&
        SecondInputItem(monitor) >= 0) {
        bothInputsItem_ = audioInputCombo->count();
        audioInputCombo->addItem(
            MsgTexts(31).isEmpty() ? QStringLiteral("Microphone and system sound") : MsgTexts(31));
    }
    int second = SecondInputItem(Settings.AudioInput2Name);
    if (second < 0 && !Settings.AudioInput2Name.empty()) {
        // Not there now (a headset unplugged): shown by its name and kept.
        const QString name = QString::fromStdString(Settings.AudioInput2Name);
        audioInput2Combo->addItem(name, name);
        second = audioInput2Combo->count() - 1;
    }
    audioInput2Combo->setCurrentIndex(std::max(second, 0));
    ShowAudioState();
}

int OptionsDialog::SecondInputItem(const std::string& source) const {
    if (source.empty()) return -1;
    return audioInput2Combo->findData(QString::fromStdString(source));
}

void OptionsDialog::ShowFrameRate(int fps) {
    frameRateLabel->setText(MsgTexts(5) + u' ' + QString::asprintf("%d fps", fps));
}

void OptionsDialog::ShowNotANumber(const QString& text) {
    QMessageBox box(QMessageBox::Critical, QCoreApplication::applicationName(),
                    QStringLiteral("'%1' is not a valid integer value").arg(text), QMessageBox::Ok,
                    this);
    box.setObjectName(QStringLiteral("ConversionError"));
    box.exec();
}

// ------------------------------------------------------------ OK and Cancel

void OptionsDialog::OkClicked() {
    bool isNumber = false;
    const QString keyFrames = keyFramesEdit->text();
    const int keyFramesFreq = keyFrames.toInt(&isNumber);
    if (!isNumber) {
        // Nothing stored, and the dialog stays for a correction.
        ShowNotANumber(keyFrames);
        return;
    }
    Settings.KeyFramesFreq = keyFramesFreq;
    Settings.VideoFPS = frameRateSlider->value();
    Settings.CaptureCursor = cursorCheck->isChecked();
    Settings.SendStats = reportsCheck->isChecked();
    Settings.MinimizeCapture = minimizeCheck->isChecked();
    Settings.RestoreAfterRecord = restoreCheck->isChecked();
    Settings.TrayIcon = trayCheck->isChecked();
    Settings.NotifySaved = notifyCheck->isChecked();
    Settings.Countdown = countdownEdit->value();
    Settings.CodecIndex = codecCombo->currentIndex();
    // A format or sound chosen here wins over a command line's that still
    // waits for its recording; left as shown, that one stays.
    if (ChosenFileFormat() != shownFormat_ || ChosenSoundCodec() != shownSound_)
        Settings.RunFormat.reset();
    Settings.FileFormat = ChosenFileFormat();
    Settings.AudioCodec = ChosenSoundCodec();
    Settings.VideoQuality = qualitySlider->value();
    Settings.X264Preset = x264Preset_;
    Settings.AudioRecordEnable = audioRecordCheck->isChecked();
    Settings.AudioFormatIndex = audioFormatCombo->currentIndex();
    if (audioInputCombo->currentIndex() >= 0) {
        Settings.AudioInputIndex = audioInputCombo->currentIndex();
        Settings.AudioInputName = audioInputCombo->currentText().toStdString();
    }
    Settings.AudioInputGain = audioVolumeSlider->value();
    Settings.AudioInput2Name = audioInput2Combo->currentData().toString().toStdString();
    Settings.AudioInput2Volume = audioVolume2Slider->value();
    Settings.AudioSeparateTracks = separateTracksCheck->isChecked();
    Settings.RecordTimeEnabled = timeLimitCheck->isChecked();
    // A recording started with F9 while the dialog was open keeps the values
    // it started with (a new frame rate mid-file would garble its timing);
    // the next recording takes these, as every start applies the settings.
    if (!mainWindow_.Camera()->WorkerRunning()) mainWindow_.ApplySettings();
    if (!mainWindow_.SaveSettings()) return;
    accept();
}

void OptionsDialog::CancelClicked() {
    // x264's preset goes back to the stored one, whatever the compressor's
    // dialog gave it meanwhile.
    engine::TScreenCamera::SetH264Preset(Settings.X264Preset);
    // The language chosen meanwhile is undone; what the other live
    // handlers set stays for the run.
    if (Settings.Language != openedLanguage_) {
        Settings.Language = openedLanguage_;
        languageCombo->setCurrentIndex(
            languageCombo->findData(QString::fromStdString(openedLanguage_), Qt::UserRole,
                                    Qt::MatchExactly | Qt::MatchCaseSensitive));
        LanguageChosen();
    }
    reject();
}

// ------------------------------------------------------------ live handlers

void OptionsDialog::ConfigureClicked() {
    // The compressor's dialog shows and edits the preset this dialog holds.
    engine::TScreenCamera::SetH264Preset(x264Preset_);
    mainWindow_.Camera()->ConfigureCompressor(static_cast<std::uint8_t>(codecCombo->currentIndex()),
                                              this);
    if (const std::string edited = engine::TScreenCamera::H264Preset(); !edited.empty())
        x264Preset_ = edited;
    ShowMatchingPreset();
}

void OptionsDialog::PresetChosen() {
    const QVariant data = presetCombo->currentData();
    if (!data.isValid() || data.toInt() < 0) return;
    const PresetChoices c = PresetChoicesOf(static_cast<Preset>(data.toInt()), presetContext_);
    if (c.codecIndex >= 0 && c.codecIndex < codecCombo->count()) {
        codecCombo->setCurrentIndex(c.codecIndex);
        configureButton->setEnabled(mainWindow_.Camera()
                                        ->QueryCompressor(static_cast<std::uint8_t>(c.codecIndex))
                                        .hasConfigure);
    }
    // The preset's format and sound become the user's, as if chosen in their lists.
    userFormat_ = c.format;
    userSound_ = c.sound;
    replacedCodec_.clear();
    ShowFileFormatsFor(codecCombo->currentIndex());
    frameRateSlider->setValue(c.framesPerSecond);
    // A lossless preset leaves what its codec ignores as it was.
    if (SetsQuality(c, presetContext_.compressorNames)) {
        keyFramesText->setText(QString::number(c.keyFrames));
        qualitySlider->setValue(c.quality);
        x264Preset_ = c.x264Preset;
    }
    audioRecordCheck->setChecked(c.soundOn);
    if (c.soundOn) {
        if (c.audioFormatIndex < audioFormatCombo->count())
            audioFormatCombo->setCurrentIndex(c.audioFormatIndex);
        if (c.audioInput >= 0 && c.audioInput < audioInputCombo->count())
            audioInputCombo->setCurrentIndex(c.audioInput);
    }
    ShowMatchingPreset();
}

PresetChoices OptionsDialog::ShownChoices() const {
    PresetChoices c;
    c.codecIndex = codecCombo->currentIndex();
    c.format = ChosenFileFormat();
    c.sound = ChosenSoundCodec();
    c.framesPerSecond = frameRateSlider->value();
    c.keyFrames = keyFramesText->text().toInt();
    c.quality = qualitySlider->value();
    c.x264Preset = x264Preset_;
    c.soundOn = audioRecordCheck->isChecked();
    c.audioFormatIndex = audioFormatCombo->currentIndex();
    c.audioInput = audioInputCombo->currentIndex();
    return c;
}

void OptionsDialog::ShowMatchingPreset() {
    const std::optional<Preset> preset = MatchingPreset(ShownChoices(), presetContext_);
    presetCombo->setCurrentIndex(presetCombo->findData(preset ? static_cast<int>(*preset) : -1));
}

void OptionsDialog::CodecChosen() {
    const engine::CompressorAbilities abilities = mainWindow_.Camera()->QueryCompressor(
        static_cast<std::uint8_t>(codecCombo->currentIndex()));
    configureButton->setEnabled(abilities.hasConfigure);
    replacedCodec_.clear();
    ShowFileFormatsFor(codecCombo->currentIndex());
}

void OptionsDialog::FileFormatChosen() {
    userFormat_ = ChosenFileFormat();
    replacedCodec_.clear();
    // Web browsers play MP4 with H.264 video only: MP4 brings it along.
    const int h264 = H264CompressorIndex(Settings.CompressorNames);
    if (userFormat_ == OutputFormat::Mp4 && h264 >= 0 && codecCombo->currentIndex() != h264) {
        replacedCodec_ = codecCombo->currentText();
        codecCombo->setCurrentIndex(h264);
        configureButton->setEnabled(
            mainWindow_.Camera()->QueryCompressor(static_cast<std::uint8_t>(h264)).hasConfigure);
    }
    ShowSoundCodecs(userSound_);
    ShowFormatNote();
}

void OptionsDialog::ShowFileFormatsFor(int codecIndex) {
    const bool mp4 =
        mainWindow_.Camera()->SavedFormat(codecIndex, OutputFormat::Mp4) == OutputFormat::Mp4;
    const bool h264 = H264CompressorIndex(Settings.CompressorNames) >= 0;
    auto* model = qobject_cast<QStandardItemModel*>(fileFormatCombo->model());
    QStandardItem* item =
        model->item(fileFormatCombo->findData(static_cast<int>(OutputFormat::Mp4)));
    item->setEnabled(mp4 || h264);
    // Browsers drop the picture of the other two MP4 codecs.
    item->setToolTip(mp4 ? MsgTexts(20) : h264 ? MsgTexts(60) : MsgTexts(19));
    // The user's format wherever the codec allows it: back to it when a
    // codec that cannot go into it gives way to one that can.
    const OutputFormat shown =
        mp4 || userFormat_ != OutputFormat::Mp4 ? userFormat_ : OutputFormat::Avi;
    fileFormatCombo->setCurrentIndex(fileFormatCombo->findData(static_cast<int>(shown)));
    ShowSoundCodecs(userSound_);
    ShowFormatNote();
}

void OptionsDialog::ShowFormatNote() {
    QString note;
    if (ChosenFileFormat() != userFormat_)
        note = MsgTexts(61).arg(codecCombo->currentText(),
                                QString::fromStdString(FormatTitle(userFormat_)));
    else if (!replacedCodec_.isEmpty())
        note = MsgTexts(59).arg(codecCombo->currentText(), replacedCodec_);
    else if (ChosenFileFormat() == OutputFormat::Mp4 &&
             codecCombo->currentIndex() != H264CompressorIndex(Settings.CompressorNames))
        note = MsgTexts(20);
    formatNote->setText(note);
    formatNote->setVisible(!note.isEmpty());
}

void OptionsDialog::ShowSoundCodecs(SoundCodec wanted) {
    const OutputFormat format = ChosenFileFormat();
    soundCodecCombo->clear();
    for (SoundCodec codec : SoundCodecsOf(format))
        soundCodecCombo->addItem(QString::fromStdString(SoundCodecTitle(codec)),
                                 static_cast<int>(codec));
    const SoundCodec shown =
        ContainerTakesSound(format, wanted) ? wanted : DefaultSoundCodec(format);
    soundCodecCombo->setCurrentIndex(soundCodecCombo->findData(static_cast<int>(shown)));
}

OutputFormat OptionsDialog::ChosenFileFormat() const {
    const QVariant data = fileFormatCombo->currentData();
    return data.isValid() ? static_cast<OutputFormat>(data.toInt()) : OutputFormat::Avi;
}

SoundCodec OptionsDialog::ChosenSoundCodec() const {
    const QVariant data = soundCodecCombo->currentData();
    return data.isValid() ? static_cast<SoundCodec>(data.toInt())
                          : DefaultSoundCodec(ChosenFileFormat());
}

void OptionsDialog::QualityChanged() {
    qualityValue->setText(QString::number(qualitySlider->value()) + u'%');
}

void OptionsDialog::FrameRateChanged() {
    ShowFrameRate(frameRateSlider->value());
}

void OptionsDialog::AudioVolumeChanged() {
    audioVolumeValue->setText(QString::number(audioVolumeSlider->value()));
    audioVolumeDecibels->setText(DecibelsText(audioVolumeSlider->value()));
}

void OptionsDialog::SecondAudioVolumeChanged() {
    audioVolume2Value->setText(QString::number(audioVolume2Slider->value()));
    audioVolume2Decibels->setText(DecibelsText(audioVolume2Slider->value()));
}

void OptionsDialog::ShowDecibels() {
    int widest = 0;
    for (int percent = 0; percent <= 100; ++percent)
        widest = std::max(
            widest, audioVolumeDecibels->fontMetrics().horizontalAdvance(DecibelsText(percent)));
    for (QLabel* label : {audioVolumeDecibels, audioVolume2Decibels})
        label->setMinimumWidth(widest);
    AudioVolumeChanged();
    SecondAudioVolumeChanged();
}

void OptionsDialog::KeyFramesEdited() {
    QLineEdit& edit = *keyFramesText;
    if (edit.text().isEmpty()) {
        Settings.KeyFramesFreq = 8;
        edit.setText(QStringLiteral("8"));
    }
    bool isNumber = false;
    const int keyFrames = edit.text().toInt(&isNumber);
    if (!isNumber) {
        ShowNotANumber(edit.text());
        return;
    }
    if (keyFrames < keyFramesEdit->minimum())
        edit.setText(QString::number(keyFramesEdit->minimum()));
    else if (keyFrames > keyFramesEdit->maximum())
        edit.setText(QString::number(keyFramesEdit->maximum()));
}

void OptionsDialog::TimeLimitToggled() {
    const bool enabled = timeLimitCheck->isChecked();
    for (QSpinBox* spin : {hoursEdit, minutesEdit, secondsEdit}) spin->setEnabled(enabled);
}

void OptionsDialog::HoursChanged() {
    Settings.RecordHours = hoursEdit->value();
}

void OptionsDialog::MinutesChanged() {
    Settings.RecordMinutes = minutesEdit->value();
}

void OptionsDialog::SecondsChanged() {
    Settings.RecordSeconds = secondsEdit->value();
}

void OptionsDialog::PriorityChosen() {
    Settings.PriorityIndex = priorityCombo->currentIndex();
}

void OptionsDialog::LanguageChosen() {
    if (languageCombo->currentIndex() >= 0)
        Settings.Language = languageCombo->currentData().toString().toStdString();
    ApplyLanguage();
    mainWindow_.LanguageApplied();
    // The language's frame rate caption has no figure in it: show the
    // slider's again.
    ShowFrameRate(frameRateSlider->value());
    ShowReportsAvailability();
    ShowFileFormatsFor(codecCombo->currentIndex());  // its tooltip and note in the new language
    ShowDecibels();
    // The lists' own words.
    if (audioInput2Combo->count() > 0) audioInput2Combo->setItemText(0, MsgTexts(30));
    if (bothInputsItem_ >= 0) audioInputCombo->setItemText(bothInputsItem_, MsgTexts(31));
}

void OptionsDialog::ShowReportsAvailability() {
    // The choice is kept, but means nothing to a build without a server.
    const bool server = !mainWindow_.Servers().reports.isEmpty();
    reportsCheck->setEnabled(server);
    reportsCheck->setToolTip(server ? QString() : MsgTexts(13));
}

void OptionsDialog::AudioRecordToggled() {
    ShowAudioState();
}

void OptionsDialog::ShowAudioState() {
    const bool on = audioRecordCheck->isChecked();
    for (QWidget* w : std::initializer_list<QWidget*>{
             audioFormatCombo, audioInputCombo, audioFormatLabel, audioInputLabel, audioVolumeLabel,
             audioVolumeSlider, audioVolumeValue, audioVolumeDecibels, soundCodecLabel,
             soundCodecCombo, audioInput2Label, audioInput2Combo})
        w->setEnabled(on);
    const bool second = on && !audioInput2Combo->currentData().toString().isEmpty();
    for (QWidget* w :
         std::initializer_list<QWidget*>{audioVolume2Label, audioVolume2Slider, audioVolume2Value,
                                         audioVolume2Decibels, separateTracksCheck})
        w->setEnabled(second);
}

void OptionsDialog::AudioInputChosen(int index) {
    if (index >= 0 && index == bothInputsItem_) {
        // The shortcut: the server's microphone first, the monitor of what
        // it plays beside it.
        std::string microphone, monitor;
        mainWindow_.Camera()->DefaultAudioInputs(microphone, monitor);
        const auto found = std::find(inputSources_.begin(), inputSources_.end(), microphone);
        index = found != inputSources_.end() && !microphone.empty()
                    ? static_cast<int>(found - inputSources_.begin())
                    : Settings.AudioInputIndex;
        audioInputCombo->setCurrentIndex(index);
        if (const int item = SecondInputItem(monitor); item >= 0) {
            audioInput2Combo->setCurrentIndex(item);
            SecondAudioInputChosen();
        }
        if (index < 0) return;
    }
    Settings.AudioInputIndex = index;
    Settings.AudioInputName = audioInputCombo->itemText(index).toStdString();
    // The click selects nothing on the mixer until the settings are applied.
}

void OptionsDialog::SecondAudioInputChosen() {
    Settings.AudioInput2Name = audioInput2Combo->currentData().toString().toStdString();
    ShowAudioState();
}

}  // namespace velmora
