// The options dialog's controls: what each group holds, where it stands,
// which handler each control runs, and the language keys of their captions.

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSlider>
#include <QSpinBox>
#include <QStandardItemModel>
#include <QStyle>
#include <QVBoxLayout>

#include "common/Language.h"
#include "common/Settings.h"
#include "shell/OptionsDialog.h"

namespace velmora {
namespace {

// A spin box that takes typed digits and signs as a text box does: its range
// binds the arrows, and the key-frame handler brings a typed number into it,
// so 75 can be typed and become 50.
class TypedSpinBox : public QSpinBox {
  public:
    using QSpinBox::lineEdit;
    using QSpinBox::QSpinBox;

    QValidator::State validate(QString& text, int&) const override {
        static const QRegularExpression signsAndDigits(QStringLiteral("^[+\\-0-9]*$"));
        if (!signsAndDigits.match(text).hasMatch()) return QValidator::Invalid;
        bool ok = false;
        const int n = text.toInt(&ok);
        return ok && n >= minimum() && n <= maximum() ? QValidator::Acceptable
                                                      : QValidator::Intermediate;
    }
};

template <typename T>
T* Make(QWidget* parent, const char* name) {
    auto* w = new T(parent);
    w->setObjectName(QLatin1String(name));
    return w;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const char* text) {
    auto* label = Make<QLabel>(parent, name);
    label->setText(QString::fromUtf8(text));
    return label;
}

QCheckBox* MakeCheckBox(QWidget* parent, const char* name, const char* text) {
    auto* box = Make<QCheckBox>(parent, name);
    box->setText(QString::fromUtf8(text));
    return box;
}

QSlider* MakeSlider(QWidget* parent, const char* name, int minimum, int maximum) {
    auto* slider = Make<QSlider>(parent, name);
    slider->setOrientation(Qt::Horizontal);
    slider->setRange(minimum, maximum);
    slider->setTickPosition(QSlider::TicksBelow);
    slider->setTickInterval(5);
    slider->setMinimumWidth(160);
    return slider;
}

QSpinBox* MakeSpinBox(QWidget* parent, const char* name, int maximum) {
    auto* spin = Make<QSpinBox>(parent, name);
    spin->setRange(0, maximum);
    return spin;
}

}  // namespace

void OptionsDialog::CreateControls() {
    // Quick settings, above the rest: a preset sets controls of both the
    // video and the sound groups.
    presetLabel = MakeLabel(this, "presetLabel", "Preset:");
    presetCombo = Make<QComboBox>(this, "presetCombo");
    for (const auto& [preset, title] :
         {std::pair{Preset::WebVideo, "Web video"}, std::pair{Preset::SmallFile, "Small file"},
          std::pair{Preset::Lossless, "Lossless"}, std::pair{Preset::Default, "Default"}})
        presetCombo->addItem(QString::fromUtf8(title), static_cast<int>(preset));
    presetCombo->addItem(QStringLiteral("Custom"), -1);
    // "Custom" says the controls match no preset; choosing it would set nothing.
    qobject_cast<QStandardItemModel*>(presetCombo->model())
        ->item(presetCombo->count() - 1)
        ->setEnabled(false);
    presetCombo->setToolTip(
        QStringLiteral("Sets the codec, file format, frame rate, key frames, quality and sound "
                       "below in one step; each can be changed after."));
    presetLabel->setBuddy(presetCombo);
    auto* presetRow = new QHBoxLayout;
    presetRow->addWidget(presetLabel);
    presetRow->addWidget(presetCombo);
    presetRow->addStretch(1);

    // Video Settings, on the left.
    videoGroup = Make<QGroupBox>(this, "videoGroup");
    videoGroup->setTitle(QStringLiteral("Video Settings"));
    codecLabel = MakeLabel(videoGroup, "codecLabel", "Video Codecs:");
    codecCombo = Make<QComboBox>(videoGroup, "codecCombo");
    codecCombo->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    configureButton = Make<QPushButton>(videoGroup, "configureButton");
    configureButton->setText(QStringLiteral("Configure"));
    configureButton->setAutoDefault(false);
    qualityLabel = MakeLabel(videoGroup, "qualityLabel", "Video Output Quality :");
    qualitySlider = MakeSlider(videoGroup, "qualitySlider", 0, 100);
    qualityValue = Make<QLabel>(videoGroup, "qualityValue");
    // Room for "100%", so the slider does not move as the number grows.
    qualityValue->setMinimumWidth(
        qualityValue->fontMetrics().horizontalAdvance(QStringLiteral("100%")));

    parametersGroup = Make<QGroupBox>(videoGroup, "parametersGroup");
    parametersGroup->setTitle(QStringLiteral("Video Parameters:"));
    keyFramesLabel = MakeLabel(parametersGroup, "keyFramesLabel", "Set key frames every");
    auto* typedKeyFrames = new TypedSpinBox(parametersGroup);
    keyFramesEdit = typedKeyFrames;
    keyFramesText = typedKeyFrames->lineEdit();
    keyFramesEdit->setObjectName(QStringLiteral("keyFramesEdit"));
    keyFramesEdit->setRange(1, 300);
    keyFramesUnit = MakeLabel(parametersGroup, "keyFramesUnit", "frames");
    frameRateLabel = MakeLabel(parametersGroup, "frameRateLabel", "Frame Rate FPS: 10 fps");
    frameRateSlider = MakeSlider(parametersGroup, "frameRateSlider", 1, 60);

    fileFormatLabel = MakeLabel(videoGroup, "fileFormatLabel", "File Format :");
    fileFormatCombo = Make<QComboBox>(videoGroup, "fileFormatCombo");
    for (OutputFormat format : kOutputFormats)
        fileFormatCombo->addItem(QString::fromStdString(FormatTitle(format)),
                                 static_cast<int>(format));
    fileFormatLabel->setBuddy(fileFormatCombo);
    // What a codec or format chosen did to the other, said where it happened.
    formatNote = Make<QLabel>(videoGroup, "formatNote");
    formatNote->setWordWrap(true);
    formatNote->hide();

    auto* codecRow = new QHBoxLayout;
    codecRow->addWidget(codecCombo, 1);
    codecRow->addWidget(configureButton);
    auto* fileFormatRow = new QHBoxLayout;
    fileFormatRow->addWidget(fileFormatLabel);
    fileFormatRow->addWidget(fileFormatCombo, 1);
    auto* qualityRow = new QHBoxLayout;
    qualityRow->addWidget(qualitySlider, 1);
    qualityRow->addWidget(qualityValue);
    auto* keyFrameRow = new QHBoxLayout;
    keyFrameRow->addWidget(keyFramesLabel);
    keyFrameRow->addWidget(keyFramesEdit);
    keyFrameRow->addWidget(keyFramesUnit);
    keyFrameRow->addStretch(1);
    auto* parameters = new QVBoxLayout(parametersGroup);
    parameters->addLayout(keyFrameRow);
    parameters->addWidget(frameRateLabel);
    parameters->addWidget(frameRateSlider);
    auto* video = new QVBoxLayout(videoGroup);
    video->addWidget(codecLabel);
    video->addLayout(codecRow);
    video->addLayout(fileFormatRow);
    video->addWidget(formatNote);
    video->addWidget(qualityLabel);
    video->addLayout(qualityRow);
    video->addWidget(parametersGroup);
    video->addStretch(1);

    // Settings, at the top right.
    settingsGroup = Make<QGroupBox>(this, "settingsGroup");
    settingsGroup->setTitle(QStringLiteral("Settings"));
    restoreCheck = MakeCheckBox(settingsGroup, "restoreCheck", "Restore application after capture");
    minimizeCheck =
        MakeCheckBox(settingsGroup, "minimizeCheck", "Minimize application on start capture");
    cursorCheck = MakeCheckBox(settingsGroup, "cursorCheck", "Record the mouse cursor");
    reportsCheck = MakeCheckBox(settingsGroup, "reportsCheck",
                                "Check updates, send statistics and crash reports");
    languageLabel = MakeLabel(settingsGroup, "languageLabel", "Language");
    languageCombo = Make<QComboBox>(settingsGroup, "languageCombo");
    auto* languageRow = new QHBoxLayout;
    languageRow->addWidget(languageLabel);
    languageRow->addWidget(languageCombo, 1);
    countdownLabel = MakeLabel(settingsGroup, "countdownLabel", "Countdown before recording:");
    countdownEdit = MakeSpinBox(settingsGroup, "countdownEdit", kMaxCountdown);
    countdownUnit = MakeLabel(settingsGroup, "countdownUnit", "s");
    auto* countdownRow = new QHBoxLayout;
    countdownRow->addWidget(countdownLabel);
    countdownRow->addWidget(countdownEdit);
    countdownRow->addWidget(countdownUnit);
    countdownRow->addStretch(1);
    trayCheck = MakeCheckBox(settingsGroup, "trayCheck", "Show an icon in the tray");
    notifyCheck = MakeCheckBox(settingsGroup, "notifyCheck", "Notify when a recording is saved");
    auto* settings = new QVBoxLayout(settingsGroup);
    for (QCheckBox* box :
         {restoreCheck, minimizeCheck, cursorCheck, reportsCheck, trayCheck, notifyCheck})
        settings->addWidget(box);
    settings->addLayout(countdownRow);
    settings->addLayout(languageRow);

    // Time to record, below it: an untitled group with its check box on the
    // top edge, where a title would be.
    timeLimitGroup = Make<QGroupBox>(this, "timeLimitGroup");
    timeLimitCheck = MakeCheckBox(this, "timeLimitCheck", "Time to record");
    timeLimitCheck->setAutoFillBackground(true);  // hides the edge behind it
    hoursLabel = MakeLabel(timeLimitGroup, "hoursLabel", "Hour");
    minutesLabel = MakeLabel(timeLimitGroup, "minutesLabel", "Min");
    secondsLabel = MakeLabel(timeLimitGroup, "secondsLabel", "Sec");
    hoursEdit = MakeSpinBox(timeLimitGroup, "hoursEdit", 99);
    minutesEdit = MakeSpinBox(timeLimitGroup, "minutesEdit", 59);
    secondsEdit = MakeSpinBox(timeLimitGroup, "secondsEdit", 59);
    const int halfCheckBox = timeLimitCheck->sizeHint().height() / 2;
    const int margin = style()->pixelMetric(QStyle::PM_LayoutLeftMargin);
    auto* time = new QGridLayout(timeLimitGroup);
    time->setContentsMargins(margin, halfCheckBox + margin, margin, margin);
    time->addWidget(hoursLabel, 0, 0);
    time->addWidget(minutesLabel, 0, 1);
    time->addWidget(secondsLabel, 0, 2);
    time->addWidget(hoursEdit, 1, 0);
    time->addWidget(minutesEdit, 1, 1);
    time->addWidget(secondsEdit, 1, 2);
    auto* onEdge = new QHBoxLayout;
    onEdge->setContentsMargins(margin, 0, 0, 0);
    onEdge->addWidget(timeLimitCheck);
    onEdge->addStretch(1);
    auto* timeFrame = new QGridLayout;
    timeFrame->setSpacing(0);
    timeFrame->setRowMinimumHeight(0, halfCheckBox);
    timeFrame->addWidget(timeLimitGroup, 1, 0);
    timeFrame->addLayout(onEdge, 0, 0, 2, 1, Qt::AlignTop);

    priorityGroup = Make<QGroupBox>(this, "priorityGroup");
    priorityGroup->setTitle(QStringLiteral("Priority"));
    priorityCombo = Make<QComboBox>(priorityGroup, "priorityCombo");
    priorityCombo->addItems({QStringLiteral("Idle"), QStringLiteral("Lowest"),
                             QStringLiteral("Lower"), QStringLiteral("Normal"),
                             QStringLiteral("Higher"), QStringLiteral("Highest"),
                             QStringLiteral("TimeCritical")});
    priorityCombo->setCurrentIndex(3);
    auto* priority = new QVBoxLayout(priorityGroup);
    priority->addWidget(priorityCombo);
    priority->addStretch(1);

    // Sound, across the bottom. Off until the box is ticked.
    audioGroup = Make<QGroupBox>(this, "audioGroup");
    audioGroup->setTitle(QStringLiteral("Audio"));
    audioRecordCheck = MakeCheckBox(audioGroup, "audioRecordCheck", "Audio Record");
    audioFormatLabel = MakeLabel(audioGroup, "audioFormatLabel", "Audio Format :");
    audioFormatCombo = Make<QComboBox>(audioGroup, "audioFormatCombo");
    soundCodecLabel = MakeLabel(audioGroup, "soundCodecLabel", "Sound Compression :");
    soundCodecCombo = Make<QComboBox>(audioGroup, "soundCodecCombo");
    soundCodecLabel->setBuddy(soundCodecCombo);
    audioInputLabel = MakeLabel(audioGroup, "audioInputLabel", "Audio Input :");
    audioInputCombo = Make<QComboBox>(audioGroup, "audioInputCombo");
    // Source names can be long; the list shows them whole when it opens.
    audioInputCombo->setMinimumContentsLength(24);
    audioInputCombo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    audioVolumeLabel = MakeLabel(audioGroup, "audioVolumeLabel", "Audio Input Volume :");
    audioVolumeSlider = MakeSlider(audioGroup, "audioVolumeSlider", 0, 100);
    audioVolumeValue = Make<QLabel>(audioGroup, "audioVolumeValue");
    audioVolumeValue->setText(QStringLiteral("0"));  // the slider's position until the first change
    audioVolumeValue->setMinimumWidth(
        audioVolumeValue->fontMetrics().horizontalAdvance(QStringLiteral("100")));
    // The level change beside it, the same for every input.
    audioVolumeDecibels = Make<QLabel>(audioGroup, "audioVolumeDecibels");
    audioVolumeDecibels->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    // A second input beside the first: the same list, "(none)" first.
    audioInput2Label = MakeLabel(audioGroup, "audioInput2Label", "Also record :");
    audioInput2Combo = Make<QComboBox>(audioGroup, "audioInput2Combo");
    audioInput2Combo->setMinimumContentsLength(24);
    audioInput2Combo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    audioInput2Label->setBuddy(audioInput2Combo);
    audioVolume2Label = MakeLabel(audioGroup, "audioVolume2Label", "Also record volume :");
    audioVolume2Slider = MakeSlider(audioGroup, "audioVolume2Slider", 0, 100);
    audioVolume2Value = Make<QLabel>(audioGroup, "audioVolume2Value");
    audioVolume2Value->setText(QStringLiteral("0"));
    audioVolume2Value->setMinimumWidth(
        audioVolume2Value->fontMetrics().horizontalAdvance(QStringLiteral("100")));
    audioVolume2Decibels = Make<QLabel>(audioGroup, "audioVolume2Decibels");
    audioVolume2Decibels->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    separateTracksCheck = MakeCheckBox(audioGroup, "separateTracksCheck", "Separate tracks");
    for (QWidget* w : std::initializer_list<QWidget*>{
             audioFormatCombo, audioInputCombo, audioFormatLabel, audioInputLabel, audioVolumeLabel,
             audioVolumeSlider, audioVolumeValue, audioVolumeDecibels, soundCodecLabel,
             soundCodecCombo, audioInput2Label, audioInput2Combo, audioVolume2Label,
             audioVolume2Slider, audioVolume2Value, audioVolume2Decibels, separateTracksCheck})
        w->setEnabled(false);
    auto* volumeRow = new QHBoxLayout;
    volumeRow->addWidget(audioVolumeSlider, 1);
    volumeRow->addWidget(audioVolumeValue);
    volumeRow->addWidget(audioVolumeDecibels);
    auto* volume2Row = new QHBoxLayout;
    volume2Row->addWidget(audioVolume2Slider, 1);
    volume2Row->addWidget(audioVolume2Value);
    volume2Row->addWidget(audioVolume2Decibels);
    auto* audio = new QGridLayout(audioGroup);
    audio->addWidget(audioRecordCheck, 0, 0, 1, 2);
    audio->addWidget(audioFormatLabel, 1, 0);
    audio->addWidget(audioFormatCombo, 1, 1);
    audio->addWidget(soundCodecLabel, 1, 2);
    audio->addWidget(soundCodecCombo, 1, 3);
    audio->addWidget(audioInputLabel, 2, 0);
    audio->addWidget(audioInputCombo, 2, 1, 1, 3);
    audio->addWidget(audioVolumeLabel, 3, 0);
    audio->addLayout(volumeRow, 3, 1, 1, 3);
    // The choice of tracks beside the second input it is about, so the
    // dialog grows by two rows only.
    auto* input2Row = new QHBoxLayout;
    input2Row->addWidget(audioInput2Combo, 1);
    input2Row->addWidget(separateTracksCheck);
    audio->addWidget(audioInput2Label, 4, 0);
    audio->addLayout(input2Row, 4, 1, 1, 3);
    audio->addWidget(audioVolume2Label, 5, 0);
    audio->addLayout(volume2Row, 5, 1, 1, 3);
    audio->setColumnStretch(1, 1);

    okButton = Make<QPushButton>(this, "okButton");
    okButton->setText(QStringLiteral("OK"));
    okButton->setDefault(true);
    cancelButton = Make<QPushButton>(this, "cancelButton");
    cancelButton->setText(QStringLiteral("Cancel"));
    cancelButton->setAutoDefault(false);

    auto* timeAndPriority = new QHBoxLayout;
    timeAndPriority->addLayout(timeFrame, 1);
    timeAndPriority->addWidget(priorityGroup, 1);
    auto* right = new QVBoxLayout;
    right->addWidget(settingsGroup);
    right->addLayout(timeAndPriority);
    right->addStretch(1);
    auto* top = new QHBoxLayout;
    top->addWidget(videoGroup, 1);
    top->addLayout(right, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(okButton);
    buttons->addWidget(cancelButton);
    buttons->addStretch(1);
    auto* form = new QVBoxLayout(this);
    form->addLayout(presetRow);
    form->addLayout(top);
    form->addWidget(audioGroup);
    form->addLayout(buttons);
    // A fixed border that still grows to whatever the language's texts need.
    form->setSizeConstraint(QLayout::SetFixedSize);

    // The file format is reached from the codec it depends on.
    setTabOrder(configureButton, fileFormatCombo);

    // User choices only: lists filled or selected from code run no handler.
    connect(presetCombo, &QComboBox::activated, this, &OptionsDialog::PresetChosen);
    connect(codecCombo, &QComboBox::activated, this, &OptionsDialog::CodecChosen);
    connect(fileFormatCombo, &QComboBox::activated, this, &OptionsDialog::FileFormatChosen);
    connect(soundCodecCombo, &QComboBox::activated, this,
            [this] { userSound_ = ChosenSoundCodec(); });
    connect(priorityCombo, &QComboBox::activated, this, &OptionsDialog::PriorityChosen);
    connect(languageCombo, &QComboBox::activated, this, &OptionsDialog::LanguageChosen);
    connect(audioInputCombo, &QComboBox::activated, this, &OptionsDialog::AudioInputChosen);
    connect(audioInput2Combo, &QComboBox::activated, this, &OptionsDialog::SecondAudioInputChosen);
    // Check boxes follow their state whoever sets it.
    connect(timeLimitCheck, &QCheckBox::toggled, this, &OptionsDialog::TimeLimitToggled);
    connect(audioRecordCheck, &QCheckBox::toggled, this, &OptionsDialog::AudioRecordToggled);
    connect(qualitySlider, &QSlider::valueChanged, this, &OptionsDialog::QualityChanged);
    connect(frameRateSlider, &QSlider::valueChanged, this, &OptionsDialog::FrameRateChanged);
    connect(audioVolumeSlider, &QSlider::valueChanged, this, &OptionsDialog::AudioVolumeChanged);
    connect(audioVolume2Slider, &QSlider::valueChanged, this,
            &OptionsDialog::SecondAudioVolumeChanged);
    // Every change of the text, typed or set, not only a valid value.
    connect(keyFramesText, &QLineEdit::textChanged, this, &OptionsDialog::KeyFramesEdited);
    // The preset shown follows every control a preset sets, whoever sets it.
    for (QComboBox* list :
         {codecCombo, fileFormatCombo, soundCodecCombo, audioFormatCombo, audioInputCombo})
        connect(list, &QComboBox::currentIndexChanged, this, &OptionsDialog::ShowMatchingPreset);
    for (QSlider* slider : {frameRateSlider, qualitySlider})
        connect(slider, &QSlider::valueChanged, this, &OptionsDialog::ShowMatchingPreset);
    connect(keyFramesText, &QLineEdit::textChanged, this, &OptionsDialog::ShowMatchingPreset);
    connect(audioRecordCheck, &QCheckBox::toggled, this, &OptionsDialog::ShowMatchingPreset);
    connect(hoursEdit, &QSpinBox::valueChanged, this, &OptionsDialog::HoursChanged);
    connect(minutesEdit, &QSpinBox::valueChanged, this, &OptionsDialog::MinutesChanged);
    connect(secondsEdit, &QSpinBox::valueChanged, this, &OptionsDialog::SecondsChanged);
    connect(configureButton, &QPushButton::clicked, this, &OptionsDialog::ConfigureClicked);
    connect(okButton, &QPushButton::clicked, this, &OptionsDialog::OkClicked);
    connect(cancelButton, &QPushButton::clicked, this, &OptionsDialog::CancelClicked);

    // Translated by every ApplyLanguage from here on. The keys are the
    // language files' names of the controls.
    SetLanguageWindow(LanguageWindow::Options, this, {{"Label1", qualityLabel},
                                                      {"Label2", keyFramesLabel},
                                                      {"Label3", keyFramesUnit},
                                                      {"Label4", languageLabel},
                                                      {"Label5", frameRateLabel},
                                                      {"Label6", hoursLabel},
                                                      {"Label7", minutesLabel},
                                                      {"Label8", codecLabel},
                                                      {"Label9", audioFormatLabel},
                                                      {"Label10", audioVolumeLabel},
                                                      {"Label11", audioInputLabel},
                                                      {"Label12", secondsLabel},
                                                      {"Label13", fileFormatLabel},
                                                      {"Label14", soundCodecLabel},
                                                      {"Label15", audioInput2Label},
                                                      {"Label16", audioVolume2Label},
                                                      {"Label17", countdownLabel},
                                                      {"Label18", countdownUnit},
                                                      {"CheckBox8", trayCheck},
                                                      {"CheckBox9", notifyCheck},
                                                      {"CheckBox7", separateTracksCheck},
                                                      {"Button1", configureButton},
                                                      {"Button3", cancelButton},
                                                      {"CheckBox1", cursorCheck},
                                                      {"CheckBox2", reportsCheck},
                                                      {"CheckBox3", timeLimitCheck},
                                                      {"CheckBox4", audioRecordCheck},
                                                      {"CheckBox5", minimizeCheck},
                                                      {"CheckBox6", restoreCheck},
                                                      {"GroupBox1", parametersGroup},
                                                      {"GroupBox2", timeLimitGroup},
                                                      {"GroupBox3", priorityGroup},
                                                      {"GroupBox4", videoGroup},
                                                      {"GroupBox5", settingsGroup},
                                                      {"GroupBox6", audioGroup},
                                                      {"Priority1", priorityCombo},
                                                      {"Priority2", priorityCombo},
                                                      {"Priority3", priorityCombo},
                                                      {"Priority4", priorityCombo},
                                                      {"Priority5", priorityCombo},
                                                      {"Priority6", priorityCombo},
                                                      {"Priority7", priorityCombo},
                                                      {"Label19", presetLabel},
                                                      {"Hint1", presetCombo},
                                                      {"Preset1", presetCombo},
                                                      {"Preset2", presetCombo},
                                                      {"Preset3", presetCombo},
                                                      {"Preset4", presetCombo},
                                                      {"Preset5", presetCombo}});
}

}  // namespace velmora
