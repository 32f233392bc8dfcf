#include "shell/OptionsDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QShowEvent>
#include <QSlider>
#include <QSpinBox>
#include <QStyle>
#include <QVBoxLayout>

#include "common/Language.h"
#include "common/ProgramFolder.h"
#include "common/Settings.h"
#include "engine/ScreenCamera.h"
#include "common/EventLog.h"
#include "shell/MainWindow.h"

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

QSpinBox* MakeSpinEdit(QWidget* parent, const char* name, int maximum) {
    auto* spin = Make<QSpinBox>(parent, name);
    spin->setRange(0, maximum);
    return spin;
}

TypedSpinBox& Typed(QSpinBox* spin) {
    return static_cast<TypedSpinBox&>(*spin);
}

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

QStringList ToQStringList(const std::vector<std::string>& items) {
    QStringList list;
    for (const std::string& item : items) list << QString::fromStdString(item);
    return list;
}

}  // namespace

TOptionsForm* OptionsForm = nullptr;

TOptionsForm::TOptionsForm(TForm1& mainWindow)
    : QDialog(&mainWindow, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      mainWindow_(mainWindow) {
    // Translated by every ApplyLanguage from here on.
    SetLanguageWindow(LanguageWindow::Options, this);
    OptionsForm = this;
    setObjectName(QStringLiteral("OptionsForm"));
    setWindowTitle(QStringLiteral("Options"));
    CreateControls();
    FormCreate();
}

TOptionsForm::~TOptionsForm() {
    if (OptionsForm == this) OptionsForm = nullptr;
    SetLanguageWindow(LanguageWindow::Options, nullptr);
}

void TOptionsForm::CreateControls() {
    // Video Settings, on the left.
    GroupBox4 = Make<QGroupBox>(this, "GroupBox4");
    GroupBox4->setTitle(QStringLiteral("Video Settings"));
    Label8 = MakeLabel(GroupBox4, "Label8", "Video Codecs:");
    VideoCodecsComboBox1 = Make<QComboBox>(GroupBox4, "VideoCodecsComboBox1");
    VideoCodecsComboBox1->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    Button1 = Make<QPushButton>(GroupBox4, "Button1");
    Button1->setText(QStringLiteral("Configure"));
    Button1->setAutoDefault(false);
    Label1 = MakeLabel(GroupBox4, "Label1", "Video Output Quality :");
    VideoQuality_TrackBar = MakeSlider(GroupBox4, "VideoQuality_TrackBar", 0, 100);
    LabelQuality = Make<QLabel>(GroupBox4, "LabelQuality");
    // Room for "100%", so the slider does not move as the number grows.
    LabelQuality->setMinimumWidth(
        LabelQuality->fontMetrics().horizontalAdvance(QStringLiteral("100%")));

    GroupBox1 = Make<QGroupBox>(GroupBox4, "GroupBox1");
    GroupBox1->setTitle(QStringLiteral("Video Parameters:"));
    Label2 = MakeLabel(GroupBox1, "Label2", "Set key frames every");
    EditKeyFrames1 = new TypedSpinBox(GroupBox1);
    EditKeyFrames1->setObjectName(QStringLiteral("EditKeyFrames1"));
    EditKeyFrames1->setRange(1, 50);
    Label3 = MakeLabel(GroupBox1, "Label3", "frames");
    Label5 = MakeLabel(GroupBox1, "Label5", "Frame Rate FPS: 10 fps");
    FPS_TrackBar = MakeSlider(GroupBox1, "FPS_TrackBar", 1, 50);

    auto* codecRow = new QHBoxLayout;
    codecRow->addWidget(VideoCodecsComboBox1, 1);
    codecRow->addWidget(Button1);
    auto* qualityRow = new QHBoxLayout;
    qualityRow->addWidget(VideoQuality_TrackBar, 1);
    qualityRow->addWidget(LabelQuality);
    auto* keyFrameRow = new QHBoxLayout;
    keyFrameRow->addWidget(Label2);
    keyFrameRow->addWidget(EditKeyFrames1);
    keyFrameRow->addWidget(Label3);
    keyFrameRow->addStretch(1);
    auto* parameters = new QVBoxLayout(GroupBox1);
    parameters->addLayout(keyFrameRow);
    parameters->addWidget(Label5);
    parameters->addWidget(FPS_TrackBar);
    auto* video = new QVBoxLayout(GroupBox4);
    video->addWidget(Label8);
    video->addLayout(codecRow);
    video->addWidget(Label1);
    video->addLayout(qualityRow);
    video->addWidget(GroupBox1);
    video->addStretch(1);

    // Settings, at the top right.
    GroupBox5 = Make<QGroupBox>(this, "GroupBox5");
    GroupBox5->setTitle(QStringLiteral("Settings"));
    CheckBox6 = MakeCheckBox(GroupBox5, "CheckBox6", "Restore application after capture");
    CheckBox5 = MakeCheckBox(GroupBox5, "CheckBox5", "Minimize application on start capture");
    CheckBox1 = MakeCheckBox(GroupBox5, "CheckBox1", "Record cursor in area capture");
    CheckBox2 =
        MakeCheckBox(GroupBox5, "CheckBox2", "Check updates, send statistics and crash reports");
    Label4 = MakeLabel(GroupBox5, "Label4", "Language");
    ComboBox2 = Make<QComboBox>(GroupBox5, "ComboBox2");
    auto* languageRow = new QHBoxLayout;
    languageRow->addWidget(Label4);
    languageRow->addWidget(ComboBox2, 1);
    auto* settings = new QVBoxLayout(GroupBox5);
    for (QCheckBox* box : {CheckBox6, CheckBox5, CheckBox1, CheckBox2}) settings->addWidget(box);
    settings->addLayout(languageRow);

    // Time to record, below it: an untitled group with its check box on the
    // top edge, where a title would be.
    GroupBox2 = Make<QGroupBox>(this, "GroupBox2");
    CheckBox3 = MakeCheckBox(this, "CheckBox3", "Time to record");
    CheckBox3->setAutoFillBackground(true);  // hides the edge behind it
    Label6 = MakeLabel(GroupBox2, "Label6", "Hour");
    Label7 = MakeLabel(GroupBox2, "Label7", "Min");
    Label12 = MakeLabel(GroupBox2, "Label12", "Sec");
    sSpinEdit5 = MakeSpinEdit(GroupBox2, "sSpinEdit5", 99);
    sSpinEdit6 = MakeSpinEdit(GroupBox2, "sSpinEdit6", 59);
    sSpinEdit7 = MakeSpinEdit(GroupBox2, "sSpinEdit7", 59);
    const int halfCheckBox = CheckBox3->sizeHint().height() / 2;
    const int margin = style()->pixelMetric(QStyle::PM_LayoutLeftMargin);
    auto* time = new QGridLayout(GroupBox2);
    time->setContentsMargins(margin, halfCheckBox + margin, margin, margin);
    time->addWidget(Label6, 0, 0);
    time->addWidget(Label7, 0, 1);
    time->addWidget(Label12, 0, 2);
    time->addWidget(sSpinEdit5, 1, 0);
    time->addWidget(sSpinEdit6, 1, 1);
    time->addWidget(sSpinEdit7, 1, 2);
    auto* onEdge = new QHBoxLayout;
    onEdge->setContentsMargins(margin, 0, 0, 0);
    onEdge->addWidget(CheckBox3);
    onEdge->addStretch(1);
    auto* timeFrame = new QGridLayout;
    timeFrame->setSpacing(0);
    timeFrame->setRowMinimumHeight(0, halfCheckBox);
    timeFrame->addWidget(GroupBox2, 1, 0);
    timeFrame->addLayout(onEdge, 0, 0, 2, 1, Qt::AlignTop);

    GroupBox3 = Make<QGroupBox>(this, "GroupBox3");
    GroupBox3->setTitle(QStringLiteral("Priority"));
    ComboBox1 = Make<QComboBox>(GroupBox3, "ComboBox1");
    ComboBox1->addItems({QStringLiteral("Idle"), QStringLiteral("Lowest"), QStringLiteral("Lower"),
                         QStringLiteral("Normal"), QStringLiteral("Higher"),
                         QStringLiteral("Highest"), QStringLiteral("TimeCritical")});
    ComboBox1->setCurrentIndex(3);
    auto* priority = new QVBoxLayout(GroupBox3);
    priority->addWidget(ComboBox1);
    priority->addStretch(1);

    // Sound, across the bottom. Off until the box is ticked.
    GroupBox6 = Make<QGroupBox>(this, "GroupBox6");
    GroupBox6->setTitle(QStringLiteral("Audio"));
    AudioRecordCheckbox = MakeCheckBox(GroupBox6, "AudioRecordCheckbox", "Audio Record");
    Label9 = MakeLabel(GroupBox6, "Label9", "Audio Format :");
    AudioFormatComboBox = Make<QComboBox>(GroupBox6, "AudioFormatComboBox");
    Label11 = MakeLabel(GroupBox6, "Label11", "Audio Input :");
    AudioInputComboBox = Make<QComboBox>(GroupBox6, "AudioInputComboBox");
    // Source names can be long; the list shows them whole when it opens.
    AudioInputComboBox->setMinimumContentsLength(24);
    AudioInputComboBox->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    Label10 = MakeLabel(GroupBox6, "Label10", "Audio Input Volume :");
    AudioVolumeTrackBar = MakeSlider(GroupBox6, "AudioVolumeTrackBar", 0, 100);
    LabelVolume = Make<QLabel>(GroupBox6, "LabelVolume");
    LabelVolume->setText(QStringLiteral("0"));  // the slider's position until the first change
    LabelVolume->setMinimumWidth(
        LabelVolume->fontMetrics().horizontalAdvance(QStringLiteral("100")));
    for (QWidget* w :
         std::initializer_list<QWidget*>{AudioFormatComboBox, AudioInputComboBox, Label9, Label11,
                                         Label10, AudioVolumeTrackBar, LabelVolume})
        w->setEnabled(false);
    auto* volumeRow = new QHBoxLayout;
    volumeRow->addWidget(AudioVolumeTrackBar, 1);
    volumeRow->addWidget(LabelVolume);
    auto* audio = new QGridLayout(GroupBox6);
    audio->addWidget(AudioRecordCheckbox, 0, 0, 1, 2);
    audio->addWidget(Label9, 1, 0);
    audio->addWidget(AudioFormatComboBox, 1, 1);
    audio->addWidget(Label11, 2, 0);
    audio->addWidget(AudioInputComboBox, 2, 1);
    audio->addWidget(Label10, 3, 0);
    audio->addLayout(volumeRow, 3, 1);
    audio->setColumnStretch(1, 1);

    sButton1 = Make<QPushButton>(this, "sButton1");
    sButton1->setText(QStringLiteral("OK"));
    sButton1->setDefault(true);
    Button3 = Make<QPushButton>(this, "Button3");
    Button3->setText(QStringLiteral("Cancel"));
    Button3->setAutoDefault(false);

    auto* timeAndPriority = new QHBoxLayout;
    timeAndPriority->addLayout(timeFrame, 1);
    timeAndPriority->addWidget(GroupBox3, 1);
    auto* right = new QVBoxLayout;
    right->addWidget(GroupBox5);
    right->addLayout(timeAndPriority);
    right->addStretch(1);
    auto* top = new QHBoxLayout;
    top->addWidget(GroupBox4, 1);
    top->addLayout(right, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(sButton1);
    buttons->addWidget(Button3);
    buttons->addStretch(1);
    auto* form = new QVBoxLayout(this);
    form->addLayout(top);
    form->addWidget(GroupBox6);
    form->addLayout(buttons);
    // A fixed border that still grows to whatever the language's texts need.
    form->setSizeConstraint(QLayout::SetFixedSize);

    // User choices only: lists filled or selected from code run no handler.
    connect(VideoCodecsComboBox1, &QComboBox::activated, this,
            &TOptionsForm::VideoCodecsComboBox1Change);
    connect(ComboBox1, &QComboBox::activated, this, &TOptionsForm::ComboBox1Change);
    connect(ComboBox2, &QComboBox::activated, this, &TOptionsForm::ComboBox2Change);
    connect(AudioInputComboBox, &QComboBox::activated, this,
            &TOptionsForm::AudioInputComboBoxClick);
    // Check boxes follow their state whoever sets it.
    connect(CheckBox3, &QCheckBox::toggled, this, &TOptionsForm::CheckBox3Click);
    connect(AudioRecordCheckbox, &QCheckBox::toggled, this,
            &TOptionsForm::AudioRecordCheckboxClick);
    connect(VideoQuality_TrackBar, &QSlider::valueChanged, this,
            &TOptionsForm::VideoQuality_TrackBarChange);
    connect(FPS_TrackBar, &QSlider::valueChanged, this, &TOptionsForm::FPS_TrackBarChange);
    connect(AudioVolumeTrackBar, &QSlider::valueChanged, this,
            &TOptionsForm::AudioVolumeTrackBarChange);
    // Every change of the text, typed or set, not only a valid value.
    connect(Typed(EditKeyFrames1).lineEdit(), &QLineEdit::textChanged, this,
            &TOptionsForm::EditKeyFrames1Change);
    connect(sSpinEdit5, &QSpinBox::valueChanged, this, &TOptionsForm::sSpinEdit5Change);
    connect(sSpinEdit6, &QSpinBox::valueChanged, this, &TOptionsForm::sSpinEdit6Change);
    connect(sSpinEdit7, &QSpinBox::valueChanged, this, &TOptionsForm::sSpinEdit7Change);
    connect(Button1, &QPushButton::clicked, this, &TOptionsForm::Button1Click);
    connect(sButton1, &QPushButton::clicked, this, &TOptionsForm::sButton1Click);
    connect(Button3, &QPushButton::clicked, this, &TOptionsForm::Button3Click);
}

void TOptionsForm::FormCreate() {
    VideoCodecsComboBox1->addItems(ToQStringList(Settings.CompressorNames));
    VideoCodecsComboBox1->setCurrentIndex(Settings.CodecIndex);
    for (QSpinBox* spin : {sSpinEdit5, sSpinEdit6, sSpinEdit7}) spin->setEnabled(false);

    ComboBox2->addItems(LanguageNames());
    // Exact names: "english" in the settings file is not "English".
    const int language = ComboBox2->findText(QString::fromStdString(Settings.Language),
                                             Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (language >= 0) {
        ComboBox2->setCurrentIndex(language);
    } else {
        WriteLog(LogTexts(6));
        Settings.Language = "English";
        ComboBox2->setCurrentIndex(-1);
    }
    ApplyLanguage();
}

void TOptionsForm::showEvent(QShowEvent* event) {
    // Filled before the dialog appears, so it never shows stale values.
    if (!event->spontaneous()) {
        FormShow();
        // Sized for the texts just set before the dialog is centred.
        layout()->activate();
    }
    QDialog::showEvent(event);
}

void TOptionsForm::FormShow() {
    engine::TScreenCamera& camera = *mainWindow_.Camera();

    VideoCodecsComboBox1->setCurrentIndex(Settings.CodecIndex);
    CheckBox1->setChecked(Settings.CaptureCursor);
    CheckBox2->setChecked(Settings.SendStats);
    CheckBox5->setChecked(Settings.MinimizeCapture);
    CheckBox6->setChecked(Settings.RestoreAfterRecord);
    FPS_TrackBar->setValue(Settings.VideoFPS);
    Typed(EditKeyFrames1).lineEdit()->setText(QString::number(Settings.KeyFramesFreq));
    VideoQuality_TrackBar->setValue(Settings.VideoQuality);
    AudioRecordCheckbox->setChecked(Settings.AudioRecordEnable);
    AudioFormatComboBox->setCurrentIndex(Settings.AudioFormatIndex);
    AudioInputComboBox->setCurrentIndex(Settings.AudioInputIndex);
    AudioVolumeTrackBar->setValue(Settings.AudioVolumeValue);

    ShowFrameRate(Settings.VideoFPS);
    LabelQuality->setText(QString::number(Settings.VideoQuality) + u'%');

    AudioFormatComboBox->clear();
    AudioFormatComboBox->addItems(ToQStringList(camera.ListAudioFormats()));
    AudioFormatComboBox->setCurrentIndex(camera.AudioFormatIndex);

    const engine::AudioInputInfo input = camera.ListAudioInputs();
    AudioInputComboBox->clear();
    if (input.names) AudioInputComboBox->addItems(ToQStringList(*input.names));
    AudioInputComboBox->setCurrentIndex(input.selected);
    ShowInputVolume(input, Settings.AudioRecordEnable);

    FPS_TrackBar->setValue(static_cast<int>(camera.FramesPerSecond));
    VideoQuality_TrackBar->setValue(Settings.VideoQuality);
    Typed(EditKeyFrames1).lineEdit()->setText(QString::asprintf("%d", camera.KeyFrameEvery));

    CheckBox3->setChecked(Settings.RecordTimeEnabled);
    sSpinEdit5->setValue(Settings.RecordHours);
    sSpinEdit6->setValue(Settings.RecordMinutes);
    sSpinEdit7->setValue(Settings.RecordSeconds);
}

void TOptionsForm::ShowInputVolume(const engine::AudioInputInfo& input, bool enable) {
    if (input.hasVolume) {
        if (enable) {
            AudioVolumeTrackBar->setEnabled(true);
            LabelVolume->setEnabled(true);
        }
        AudioVolumeTrackBar->setValue(input.volume);
    } else {
        AudioVolumeTrackBar->setValue(0);
        AudioVolumeTrackBar->setEnabled(false);
        LabelVolume->setEnabled(false);
    }
}

void TOptionsForm::ShowFrameRate(int fps) {
    Label5->setText(MsgTexts(5) + u' ' + QString::asprintf("%d fps", fps));
}

void TOptionsForm::ShowNotANumber(const QString& text) {
    QMessageBox box(QMessageBox::Critical, QCoreApplication::applicationName(),
                    QStringLiteral("'%1' is not a valid integer value").arg(text), QMessageBox::Ok,
                    this);
    box.setObjectName(QStringLiteral("ConversionError"));
    box.exec();
}

// ------------------------------------------------------------ OK and Cancel

void TOptionsForm::sButton1Click() {
    bool isNumber = false;
    const QString keyFrames = EditKeyFrames1->text();
    const int keyFramesFreq = keyFrames.toInt(&isNumber);
    if (!isNumber) {
        // Nothing stored, and the dialog stays for a correction.
        ShowNotANumber(keyFrames);
        return;
    }
    Settings.KeyFramesFreq = keyFramesFreq;
    Settings.VideoFPS = FPS_TrackBar->value();
    Settings.CaptureCursor = CheckBox1->isChecked();
    Settings.SendStats = CheckBox2->isChecked();
    Settings.MinimizeCapture = CheckBox5->isChecked();
    Settings.RestoreAfterRecord = CheckBox6->isChecked();
    Settings.CodecIndex = VideoCodecsComboBox1->currentIndex();
    Settings.VideoQuality = VideoQuality_TrackBar->value();
    Settings.AudioRecordEnable = AudioRecordCheckbox->isChecked();
    Settings.AudioFormatIndex = AudioFormatComboBox->currentIndex();
    Settings.AudioVolumeValue = AudioVolumeTrackBar->value();
    Settings.RecordTimeEnabled = CheckBox3->isChecked();
    // A recording started with F9 while the dialog was open keeps the values
    // it started with (a new frame rate mid-file would garble its timing);
    // the next recording takes these, as every start applies the settings.
    if (!mainWindow_.Camera()->WorkerRunning()) mainWindow_.ApplySettings();
    if (!mainWindow_.SaveSettings()) return;
    accept();
}

void TOptionsForm::Button3Click() {
    // Nothing is reverted: what the live handlers set stays for the run.
    reject();
}

// ------------------------------------------------------------ live handlers

void TOptionsForm::Button1Click() {
    mainWindow_.Camera()->ConfigureCompressor(
        static_cast<std::uint8_t>(VideoCodecsComboBox1->currentIndex()), this);
}

void TOptionsForm::VideoCodecsComboBox1Change() {
    const engine::CompressorAbilities abilities = mainWindow_.Camera()->QueryCompressor(
        static_cast<std::uint8_t>(VideoCodecsComboBox1->currentIndex()));
    Button1->setEnabled(abilities.hasConfigure);
}

void TOptionsForm::VideoQuality_TrackBarChange() {
    LabelQuality->setText(QString::number(VideoQuality_TrackBar->value()) + u'%');
}

void TOptionsForm::FPS_TrackBarChange() {
    ShowFrameRate(FPS_TrackBar->value());
}

void TOptionsForm::AudioVolumeTrackBarChange() {
    LabelVolume->setText(QString::number(AudioVolumeTrackBar->value()));
}

void TOptionsForm::EditKeyFrames1Change() {
    QLineEdit& edit = *Typed(EditKeyFrames1).lineEdit();
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
    if (keyFrames < EditKeyFrames1->minimum())
        edit.setText(QString::number(EditKeyFrames1->minimum()));
    else if (keyFrames > EditKeyFrames1->maximum())
        edit.setText(QString::number(EditKeyFrames1->maximum()));
}

void TOptionsForm::CheckBox3Click() {
    const bool enabled = CheckBox3->isChecked();
    for (QSpinBox* spin : {sSpinEdit5, sSpinEdit6, sSpinEdit7}) spin->setEnabled(enabled);
}

void TOptionsForm::sSpinEdit5Change() {
    Settings.RecordHours = sSpinEdit5->value();
}

void TOptionsForm::sSpinEdit6Change() {
    Settings.RecordMinutes = sSpinEdit6->value();
}

void TOptionsForm::sSpinEdit7Change() {
    Settings.RecordSeconds = sSpinEdit7->value();
}

void TOptionsForm::ComboBox1Change() {
    Settings.PriorityIndex = ComboBox1->currentIndex();
}

void TOptionsForm::ComboBox2Change() {
    Settings.Language = ComboBox2->currentText().toStdString();
    ApplyLanguage();
    mainWindow_.LanguageApplied();
    // The language's caption of Label5 has no frame rate in it: show the
    // slider's again.
    ShowFrameRate(FPS_TrackBar->value());
}

void TOptionsForm::AudioRecordCheckboxClick() {
    const bool on = AudioRecordCheckbox->isChecked();
    for (QWidget* w : std::initializer_list<QWidget*>{AudioFormatComboBox, AudioInputComboBox,
                                                      Label9, Label11, Label10})
        w->setEnabled(on);
    if (on) {
        ShowInputVolume(mainWindow_.Camera()->ListAudioInputs(), true);
    } else {
        AudioVolumeTrackBar->setEnabled(false);
        LabelVolume->setEnabled(false);
    }
}

void TOptionsForm::AudioInputComboBoxClick(int index) {
    Settings.AudioInputIndex = index;
    // The volume shown is the input the mixer has selected; the click
    // selects nothing there until the settings are applied.
    ShowInputVolume(mainWindow_.Camera()->ListAudioInputs(), true);
}

}  // namespace velmora
