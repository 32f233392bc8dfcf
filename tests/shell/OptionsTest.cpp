// The options dialog beside the real main window and engine on the private X
// server, each test in a temporary program folder: what OK stores and hands
// to the engine, what the live handlers change at once and Cancel keeps, the
// key-frame box, the language list, the sound controls and Configure.

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QToolButton>
#include <functional>

#include "common/Language.h"
#include "common/ProgramFolder.h"
#include "common/Settings.h"
#include "engine/ScreenCamera.h"
#include "engine/vfw/Compressors.h"
#include "net/VendorServers.h"
#include "platform/x11/HotKeys.h"
#include "shell/CompressorDialog.h"
#include "shell/MainWindow.h"
#include "shell/OptionsDialog.h"
#include "tests/support/WindowTestSupport.h"

using namespace velmora;
using velmora::test::Until;

namespace {

const QString kShipped = QStringLiteral(VELMORA_LANGUAGE_DIR);

// Answers the next modal window with answer, remembering what it was.
class ModalWatcher {
  public:
    explicit ModalWatcher(std::function<void(QWidget*)> answer = {}) : answer_(std::move(answer)) {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            QWidget* modal = QApplication::activeModalWidget();
            if (!modal || modal == ignored_) return;
            seen_ << modal->objectName();
            if (auto* box = qobject_cast<QMessageBox*>(modal)) texts_ << box->text();
            if (answer_) answer_(modal);
            if (modal->isVisible()) modal->close();
        });
        timer_.start(20);
    }
    void Ignore(QWidget* w) { ignored_ = w; }
    const QStringList& Seen() const { return seen_; }
    const QStringList& Texts() const { return texts_; }

  private:
    QTimer timer_;
    std::function<void(QWidget*)> answer_;
    QWidget* ignored_ = nullptr;
    QStringList seen_, texts_;
};

class OptionsTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        QDir(dir_.path()).mkdir(QStringLiteral("out"));
        test::UseProgramFolder(dir_.path(), kShipped, {"English", "German", "Russian"});
        InstallCompressorDialog();
    }
    void TearDown() override {
        options_.reset();
        form_.reset();
        vfw::ICSetConfigureHook({});
        SetProgramFolder("");
        Settings = TSettings{};
    }

    // The program's start: main window, then the dialog, from this Setup.ini.
    void Start(const QString& extra = {}) {
        QFile setup(dir_.filePath(QStringLiteral("Setup.ini")));
        ASSERT_TRUE(setup.open(QIODevice::WriteOnly));
        setup.write(QStringLiteral("[SetupVideo]\nWorkDir=%1/\nTypeCapture=0\nRegionLeftPos=0\n"
                                   "RegionTopPos=0\nRegionWidthPos=320\nRegionHeightPos=240\n"
                                   "[SetupApp]\nMinimizeCapture=0\nRestoreAfterRecord=0\n%2")
                        .arg(dir_.filePath(QStringLiteral("out")), extra)
                        .toUtf8());
        setup.close();
        form_ = std::make_unique<MainWindow>();
        // No update check against the vendor's server from these tests.
        form_->findChild<QTimer*>(QStringLiteral("updateCheckTimer"))->stop();
        options_ = std::make_unique<OptionsDialog>(*form_);
        form_->show();
    }
    void Open() {
        options_->show();
        ASSERT_TRUE(Until([&] { return options_->isVisible(); }));
    }

    template <typename T>
    T* Control(const char* name) const {
        auto* control = options_->findChild<T*>(QLatin1String(name));
        EXPECT_NE(control, nullptr) << name;
        return control;
    }
    QLineEdit* KeyFrames() const {
        return Control<QSpinBox>("keyFramesEdit")->findChild<QLineEdit*>();
    }
    void Type(QLineEdit* edit, const QString& text) {
        edit->selectAll();
        if (text.isEmpty())
            QTest::keyClick(edit, Qt::Key_Backspace);
        else
            QTest::keyClicks(edit, text);
    }
    // A user's pick from the opened list.
    void Pick(QComboBox* box, int index) {
        box->setCurrentIndex(index);
        emit box->activated(index);
    }
    void ClickOk() { Control<QPushButton>("okButton")->click(); }
    QString SetupIni() const {
        QFile f(dir_.filePath(QStringLiteral("Setup.ini")));
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }
    QString Log() const { return test::LogsIn(dir_.path()); }
    engine::TScreenCamera& Camera() const { return *form_->Camera(); }
    bool Merged() {
        return Until([&] { return !Camera().WorkerRunning() && Log().contains(LogTexts(3)); });
    }
    int CompressorPosition(const char* name) const {
        const auto& names = Settings.CompressorNames;
        const auto at = std::find(names.begin(), names.end(), std::string(name));
        return at == names.end() ? -1 : static_cast<int>(at - names.begin());
    }

    QTemporaryDir dir_;
    std::unique_ptr<MainWindow> form_;
    std::unique_ptr<OptionsDialog> options_;
};

TEST_F(OptionsTest, OkStoresEveryValueHandsItToTheEngineAndWritesTheFile) {
    Start();
    Open();
    // The slider's top: 60 frames a second.
    Control<QSlider>("frameRateSlider")->setValue(99);
    EXPECT_EQ(Control<QLabel>("frameRateLabel")->text(), MsgTexts(5) + QStringLiteral(" 60 fps"));
    Control<QSlider>("qualitySlider")->setValue(40);
    EXPECT_EQ(Control<QLabel>("qualityValue")->text(), QStringLiteral("40%"));
    Type(KeyFrames(), QStringLiteral("12"));
    Control<QCheckBox>("cursorCheck")->setChecked(false);
    Control<QCheckBox>("reportsCheck")->setChecked(false);
    Control<QCheckBox>("minimizeCheck")->setChecked(true);
    Control<QCheckBox>("restoreCheck")->setChecked(false);
    const int msvc = CompressorPosition("Microsoft Video 1");
    ASSERT_GE(msvc, 0);
    Pick(Control<QComboBox>("codecCombo"), msvc);
    ClickOk();

    EXPECT_FALSE(options_->isVisible());
    EXPECT_EQ(options_->result(), QDialog::Accepted);
    EXPECT_EQ(Settings.VideoFPS, 60);
    EXPECT_EQ(Camera().FramesPerSecond, 60u);
    EXPECT_EQ(Camera().FrameInterval, 16);
    EXPECT_EQ(Settings.VideoQuality, 40);
    EXPECT_EQ(Camera().Quality, 4000);
    EXPECT_EQ(Settings.KeyFramesFreq, 12);
    EXPECT_EQ(Camera().KeyFrameEvery, 12);
    EXPECT_FALSE(Settings.CaptureCursor);
    EXPECT_FALSE(Settings.SendStats);
    EXPECT_TRUE(Settings.MinimizeCapture);
    EXPECT_TRUE(Camera().MinimizeOnRecord);
    EXPECT_FALSE(Settings.RestoreAfterRecord);
    EXPECT_EQ(Settings.CodecIndex, msvc);
    EXPECT_EQ(Camera().CompressorIndex, msvc);
    const QString ini = SetupIni();
    for (const QString& line :
         {QStringLiteral("VideoFPS=60"), QStringLiteral("VideoQuality=40"),
          QStringLiteral("KeyFramesFreq=12"), QStringLiteral("CaptureCursor=0"),
          QStringLiteral("SendStats=0"), QStringLiteral("MinimizeCapture=1"),
          QStringLiteral("CodecIndex=%1").arg(msvc)})
        EXPECT_TRUE(ini.contains(line)) << line.toStdString() << "\n" << ini.toStdString();

    // The next opening shows what was stored.
    Open();
    EXPECT_EQ(Control<QSlider>("frameRateSlider")->value(), 60);
    EXPECT_EQ(KeyFrames()->text(), QStringLiteral("12"));
    EXPECT_EQ(Control<QComboBox>("codecCombo")->currentIndex(), msvc);
    EXPECT_TRUE(Control<QCheckBox>("minimizeCheck")->isChecked());
}

TEST_F(OptionsTest, EveryCheckBoxSwitchedOnAndOffAgainReachesTheNextRecording) {
    Start();
    engine::TScreenCamera& camera = Camera();
    const std::vector<std::pair<const char*, std::function<bool()>>> boxes{
        {"cursorCheck", [&] { return camera.CaptureCursor; }},
        {"restoreCheck", [&] { return camera.RestoreAfterRecord; }},
        {"minimizeCheck", [&] { return camera.MinimizeOnRecord; }},
        {"timeLimitCheck", [&] { return camera.TimeLimit.Enabled; }},
        {"audioRecordCheck", [&] { return camera.RecordAudio; }},
    };
    for (const bool on : {true, false, true, false})
        for (const auto& [name, inEngine] : boxes) {
            Open();
            // Sound needs an input and a format to be on at all.
            Pick(Control<QComboBox>("audioInputCombo"), 0);
            Control<QComboBox>("audioFormatCombo")->setCurrentIndex(0);
            Control<QCheckBox>(name)->setChecked(on);
            ClickOk();
            EXPECT_EQ(inEngine(), on) << name << (on ? " on" : " off");
        }
}

TEST_F(OptionsTest, WithoutAServerTheReportsBoxIsOffAndSaysWhy) {
    // The test build has no vendor host; the window was made with the
    // build's servers.
    if (!VendorServers().reports.isEmpty()) GTEST_SKIP() << "this build has a vendor host";
    Start();
    Open();
    auto* reports = Control<QCheckBox>("reportsCheck");
    EXPECT_FALSE(reports->isEnabled());
    EXPECT_EQ(reports->toolTip(), MsgTexts(13));
    EXPECT_FALSE(reports->toolTip().isEmpty());
}

TEST_F(OptionsTest, NoCompressorSelectedStoresMinusOne) {
    Start();
    Settings.CodecIndex = -1;
    Open();
    EXPECT_EQ(Control<QComboBox>("codecCombo")->currentIndex(), -1);
    ClickOk();
    EXPECT_EQ(Settings.CodecIndex, -1);
    EXPECT_EQ(Camera().CompressorIndex, -1);
    EXPECT_TRUE(SetupIni().contains(QStringLiteral("CodecIndex=-1")));
}

TEST_F(OptionsTest, KeyFrameBoxKeepsItsTextWithinOneTo300AndRefusesNonNumbers) {
    Start();
    Open();
    QLineEdit* edit = KeyFrames();
    Type(edit, QStringLiteral("0"));
    EXPECT_EQ(edit->text(), QStringLiteral("1"));
    // Two seconds at 30 fps fits; ten seconds at 30 fps is the most.
    Type(edit, QStringLiteral("60"));
    EXPECT_EQ(edit->text(), QStringLiteral("60"));
    Type(edit, QStringLiteral("750"));
    EXPECT_EQ(edit->text(), QStringLiteral("300"));
    Settings.KeyFramesFreq = 30;
    Type(edit, QString());
    EXPECT_EQ(edit->text(), QStringLiteral("8"));
    EXPECT_EQ(Settings.KeyFramesFreq, 8);  // at once, before OK
    EXPECT_EQ(Control<QSpinBox>("keyFramesEdit")->value(), 8);
    QTest::keyClick(edit, Qt::Key_Up);  // the arrows stay within the range
    EXPECT_EQ(edit->text(), QStringLiteral("9"));

    // A lone minus sign: the conversion error, once while typing and once at
    // OK, which then stores nothing and keeps the dialog open.
    ModalWatcher watcher;
    Type(edit, QStringLiteral("-"));
    EXPECT_EQ(edit->text(), QStringLiteral("-"));
    Control<QSlider>("frameRateSlider")->setValue(33);
    options_->OkClicked();
    EXPECT_EQ(watcher.Seen(),
              QStringList({QStringLiteral("ConversionError"), QStringLiteral("ConversionError")}));
    EXPECT_EQ(watcher.Texts().value(0), QStringLiteral("'-' is not a valid integer value"));
    EXPECT_TRUE(options_->isVisible());
    EXPECT_EQ(Settings.VideoFPS, 15);
    EXPECT_EQ(Settings.KeyFramesFreq, 8);
    EXPECT_FALSE(SetupIni().contains(QStringLiteral("VideoFPS=")));
}

TEST_F(OptionsTest, ASettingsFileThatCannotBeWrittenKeepsTheDialogOpen) {
    Start();
    Open();
    const QString ini = dir_.filePath(QStringLiteral("Setup.ini"));
    ASSERT_TRUE(QFile::remove(ini));
    ASSERT_TRUE(QDir().mkdir(ini));
    ModalWatcher watcher;
    ClickOk();
    ASSERT_EQ(watcher.Texts().size(), 1);
    EXPECT_TRUE(watcher.Texts()[0].startsWith(QStringLiteral("Unable to write to ")));
    EXPECT_TRUE(options_->isVisible());
    // The engine has the values already: ApplySettings comes before the save.
    EXPECT_EQ(Camera().FramesPerSecond, 15u);
    QDir().rmdir(ini);
}

TEST_F(OptionsTest, PriorityAndTimeChosenThenCancelReachTheNextRecording) {
    Start();
    Open();
    Pick(Control<QComboBox>("priorityCombo"), 0);  // "Idle"
    EXPECT_EQ(Settings.PriorityIndex, 0);
    Control<QSpinBox>("secondsEdit")->setValue(7);
    EXPECT_EQ(Settings.RecordSeconds, 7);  // at once
    QTest::keyClick(options_.get(), Qt::Key_Escape);
    EXPECT_FALSE(options_->isVisible());
    EXPECT_EQ(options_->result(), QDialog::Rejected);
    EXPECT_EQ(Settings.PriorityIndex, 0);
    EXPECT_EQ(Camera().ThreadPriority, 3u);  // not before the next recording

    form_->StartCapture();
    ASSERT_TRUE(Camera().Recording);
    EXPECT_EQ(Camera().ThreadPriority, 0u);
    EXPECT_FALSE(Camera().TimeLimit.Enabled);  // the box was never ticked
    ASSERT_TRUE(Until([&] { return Camera().FramesWritten > 0; }));
    form_->StopCapture();
    ASSERT_TRUE(Merged()) << Log().toStdString();

    // The list keeps the choice for the next opening.
    Open();
    EXPECT_EQ(Control<QComboBox>("priorityCombo")->currentText(), QStringLiteral("Idle"));
    EXPECT_EQ(Control<QSpinBox>("secondsEdit")->value(), 7);
}

TEST_F(OptionsTest, TimeToRecordOfZeroStopsTheNextRecordingInItsFirstSecond) {
    Start();
    Open();
    auto* box = Control<QCheckBox>("timeLimitCheck");
    for (const char* name : {"hoursEdit", "minutesEdit", "secondsEdit"})
        EXPECT_FALSE(Control<QSpinBox>(name)->isEnabled()) << name;
    box->click();
    for (const char* name : {"hoursEdit", "minutesEdit", "secondsEdit"})
        EXPECT_TRUE(Control<QSpinBox>(name)->isEnabled()) << name;
    ClickOk();
    EXPECT_TRUE(Settings.RecordTimeEnabled);
    EXPECT_TRUE(Camera().TimeLimit.Enabled);
    EXPECT_EQ(Camera().TimeLimit.Hours + Camera().TimeLimit.Minutes + Camera().TimeLimit.Seconds,
              0);

    form_->StartCapture();
    ASSERT_TRUE(Merged()) << Log().toStdString();
    // Ended by the engine itself after at most the first second's frames.
    EXPECT_GE(Camera().FramesWritten, 1);
    EXPECT_LE(Camera().FramesWritten, 15);
    EXPECT_LT(Camera().CurrentFrameIndex, 15);
}

TEST_F(OptionsTest, ACommandLinesChoicesCountForItsRecordingOnlyAndOptionsKeepsItsOwn) {
    Start();
    // A command line sent by another copy while this one is idle.
    form_->RunCommand("start", {"-vc", "format=mkv", "time=1"});
    ASSERT_TRUE(Camera().Recording);
    EXPECT_EQ(Camera().FileFormat, OutputFormat::Mkv);
    EXPECT_TRUE(Camera().TimeLimit.Enabled);
    ASSERT_TRUE(Merged()) << Log().toStdString();  // ended by its time limit

    Open();
    EXPECT_FALSE(Control<QCheckBox>("timeLimitCheck")->isChecked());
    EXPECT_EQ(Control<QComboBox>("fileFormatCombo")->currentText(), QStringLiteral("AVI"));
    ClickOk();
    EXPECT_EQ(Settings.FileFormat, OutputFormat::Avi);
    EXPECT_FALSE(SetupIni().contains(QStringLiteral("OutputFormat=MKV")));

    // F9's recording is the user's own: the stored format, and no end but F10.
    form_->HotKeyPressed(platform::kVkF9);
    ASSERT_TRUE(Camera().Recording);
    EXPECT_FALSE(Camera().TimeLimit.Enabled);
    EXPECT_EQ(Camera().FileFormat, OutputFormat::Avi);
    form_->StopCapture();
    ASSERT_TRUE(Until([&] { return !Camera().WorkerRunning(); })) << Log().toStdString();
}

TEST_F(OptionsTest, LanguagesAreListedInTheirOwnWordsAndCancelUndoesTheOneChosen) {
    // Only regular files are languages.
    ASSERT_TRUE(QDir(dir_.path()).mkpath(QStringLiteral("Language/Folder.lng")));
    Start();
    Open();
    auto* languages = Control<QComboBox>("languageCombo");
    ASSERT_EQ(languages->count(), 3);
    // Each in its own words.
    EXPECT_EQ(languages->itemText(0), QStringLiteral("English"));
    EXPECT_EQ(languages->itemText(1), QStringLiteral("Deutsch"));
    EXPECT_EQ(languages->itemText(2), QStringLiteral("Русский"));
    EXPECT_EQ(languages->currentText(), QStringLiteral("English"));
    const int german = languages->findData(QStringLiteral("German"));
    Pick(languages, german);
    EXPECT_EQ(options_->windowTitle(), QStringLiteral("Optionen"));
    EXPECT_EQ(Control<QGroupBox>("audioGroup")->title(), QStringLiteral("Audio"));
    EXPECT_EQ(Control<QLabel>("languageLabel")->text(), QStringLiteral("Sprache"));
    // The frame rate stays the slider's, in the new language's words.
    EXPECT_EQ(Control<QLabel>("frameRateLabel")->text(), QStringLiteral("Bildrate 15 fps"));
    // The sound box and the priority names too, the chosen one included.
    EXPECT_EQ(Control<QCheckBox>("audioRecordCheck")->text(), QStringLiteral("Ton aufnehmen"));
    EXPECT_EQ(Control<QComboBox>("priorityCombo")->itemText(0), QStringLiteral("Leerlauf"));
    EXPECT_EQ(Control<QComboBox>("priorityCombo")->currentText(), QStringLiteral("Normal"));
    auto* optionsButton = form_->findChild<QToolButton*>(QStringLiteral("optionsButton"));
    EXPECT_EQ(optionsButton->text(), QStringLiteral("Optionen"));
    // Cancel undoes it, on screen and in what is saved.
    Control<QPushButton>("cancelButton")->click();
    EXPECT_FALSE(options_->isVisible());
    EXPECT_EQ(optionsButton->text(), QStringLiteral("Options"));
    EXPECT_EQ(Settings.Language, "English");
    Open();
    EXPECT_EQ(languages->currentText(), QStringLiteral("English"));
    Pick(languages, languages->findData(QStringLiteral("Russian")));
    ClickOk();
    EXPECT_EQ(optionsButton->text(), QStringLiteral("Настройки"));
    ASSERT_TRUE(form_->close());
    EXPECT_TRUE(SetupIni().contains(QStringLiteral("Language=Russian")));
}

TEST_F(OptionsTest, ALanguageNameInAnotherCaseIsLoggedAndBecomesEnglish) {
    Start(QStringLiteral("[Setup]\nLanguage=english\n"));
    // The main window found English.lng whatever the case; the list did not.
    EXPECT_FALSE(LogTexts(6).isEmpty());
    EXPECT_TRUE(Log().contains(QStringLiteral(" - ") + LogTexts(6))) << Log().toStdString();
    EXPECT_EQ(Settings.Language, "English");
    Open();
    EXPECT_EQ(Control<QComboBox>("languageCombo")->currentIndex(), -1);
    ClickOk();
    EXPECT_TRUE(SetupIni().contains(QStringLiteral("Language=English")));
}

TEST_F(OptionsTest, ConfigureFollowsTheCompressorOnlyAfterTheUserPicksOne) {
    Start();
    const int msvc = CompressorPosition("Microsoft Video 1");
    const int x264 = CompressorPosition("H.264 (x264)");
    ASSERT_GE(msvc, 0);
    ASSERT_GE(x264, 0) << "no H.264 in the catalogue";
    ASSERT_FALSE(Camera().QueryCompressor(static_cast<std::uint8_t>(msvc)).hasConfigure);
    ASSERT_TRUE(Camera().QueryCompressor(static_cast<std::uint8_t>(x264)).hasConfigure);
    auto* configure = Control<QPushButton>("configureButton");
    auto* codecs = Control<QComboBox>("codecCombo");

    Settings.CodecIndex = msvc;
    Open();
    EXPECT_TRUE(configure->isEnabled());  // selected from code: no question asked
    Pick(codecs, msvc);
    EXPECT_FALSE(configure->isEnabled());
    Pick(codecs, x264);
    EXPECT_TRUE(configure->isEnabled());
    Pick(codecs, msvc);
    options_->reject();
    Settings.CodecIndex = x264;
    Open();
    EXPECT_EQ(codecs->currentIndex(), x264);
    EXPECT_FALSE(configure->isEnabled());  // keeps its last state

    Pick(codecs, x264);
    QWidget* parent = nullptr;
    ModalWatcher watcher([&](QWidget* modal) { parent = modal->parentWidget(); });
    configure->click();
    EXPECT_EQ(watcher.Seen(), QStringList(QStringLiteral("CompressorDialog")));
    EXPECT_EQ(parent, options_.get());
}

// MP4 is offered with the codecs it holds, each format lists the sound it
// holds (its own first chosen), and OK stores both over the command line's.
TEST_F(OptionsTest, FileFormatFollowsTheCodecAndTheSoundListFollowsTheFormat) {
    Start();
    const int msvc = CompressorPosition("Microsoft Video 1");
    const int x264 = CompressorPosition("H.264 (x264)");
    ASSERT_GE(msvc, 0);
    ASSERT_GE(x264, 0);
    Settings.CodecIndex = x264;
    Settings.FileFormat = OutputFormat::Mkv;
    Settings.AudioCodec = SoundCodec::Flac;
    Open();
    auto* codecs = Control<QComboBox>("codecCombo");
    auto* formats = Control<QComboBox>("fileFormatCombo");
    auto* sounds = Control<QComboBox>("soundCodecCombo");
    const auto items = [](QComboBox* box) {
        QStringList texts;
        for (int i = 0; i < box->count(); ++i) texts << box->itemText(i);
        return texts;
    };
    EXPECT_EQ(formats->currentText(), QStringLiteral("Matroska (MKV)"));
    EXPECT_EQ(items(sounds), (QStringList{"PCM", "AAC", "Opus", "FLAC"}));
    EXPECT_EQ(sounds->currentText(), QStringLiteral("FLAC"));
    Pick(formats, 1);  // MP4: FLAC has no place, its own AAC is chosen
    EXPECT_EQ(items(sounds), (QStringList{"AAC", "Opus"}));
    EXPECT_EQ(sounds->currentText(), QStringLiteral("AAC"));
    Pick(sounds, 1);
    const auto* model = qobject_cast<QStandardItemModel*>(formats->model());
    EXPECT_TRUE(model->item(1)->isEnabled());
    EXPECT_EQ(model->item(1)->toolTip(), MsgTexts(20));

    auto* note = Control<QLabel>("formatNote");
    EXPECT_TRUE(note->isHidden());

    // Microsoft Video 1 has no place in MP4: AVI with PCM for as long as it
    // is chosen, said under the list; MP4 stays on offer, with H.264.
    Pick(codecs, msvc);
    EXPECT_TRUE(model->item(1)->isEnabled());
    EXPECT_EQ(model->item(1)->toolTip(), MsgTexts(60));
    EXPECT_EQ(formats->currentText(), QStringLiteral("AVI"));
    EXPECT_EQ(items(sounds), QStringList{"PCM"});
    EXPECT_FALSE(note->isHidden());
    EXPECT_EQ(note->text(),
              MsgTexts(61).arg(QStringLiteral("Microsoft Video 1"), QStringLiteral("MP4")));
    // H.264 again: the user's MP4 with Opus is back, and nothing to say.
    Pick(codecs, x264);
    EXPECT_EQ(formats->currentText(), QStringLiteral("MP4"));
    EXPECT_EQ(sounds->currentText(), QStringLiteral("Opus"));
    EXPECT_TRUE(note->isHidden());

    // Xvid in MP4 plays in no browser: said. Choosing MP4 with it switches
    // the codec to H.264 and says so.
    const int xvid = CompressorPosition("Xvid MPEG-4 Codec");
    ASSERT_GE(xvid, 0);
    Pick(codecs, xvid);
    EXPECT_EQ(formats->currentText(), QStringLiteral("MP4"));
    EXPECT_EQ(note->text(), MsgTexts(20));
    Pick(formats, 0);
    EXPECT_TRUE(note->isHidden());
    Pick(formats, 1);
    EXPECT_EQ(codecs->currentIndex(), x264);
    EXPECT_EQ(note->text(), MsgTexts(59).arg(QStringLiteral("H.264 (x264)"),
                                             QStringLiteral("Xvid MPEG-4 Codec")));
    EXPECT_EQ(sounds->currentText(), QStringLiteral("Opus"));

    ClickOk();
    EXPECT_EQ(Settings.CodecIndex, x264);
    EXPECT_EQ(Settings.FileFormat, OutputFormat::Mp4);
    EXPECT_EQ(Settings.AudioCodec, SoundCodec::Opus);
    EXPECT_FALSE(Settings.RunFormat);
    EXPECT_EQ(Camera().FileFormat, OutputFormat::Mp4);
    EXPECT_EQ(Camera().SoundCompression, SoundCodec::Opus);
    EXPECT_TRUE(SetupIni().contains(QStringLiteral("OutputFormat=MP4\n")));
    EXPECT_TRUE(SetupIni().contains(QStringLiteral("AudioCodec=OPUS\n")));

    // A format= waiting for its recording is not shown as the user's own,
    // and stays when OK is pressed for something else; a format picked in
    // the list wins.
    Settings.RunFormat = OutputFormat::Mkv;
    Open();
    EXPECT_EQ(formats->currentText(), QStringLiteral("MP4"));
    ClickOk();
    EXPECT_EQ(Settings.FileFormat, OutputFormat::Mp4);
    EXPECT_EQ(Settings.AudioCodec, SoundCodec::Opus);
    EXPECT_EQ(Settings.RunFormat, OutputFormat::Mkv);
    EXPECT_EQ(Camera().FileFormat, OutputFormat::Mkv);
    Open();
    Pick(formats, 0);
    ClickOk();
    EXPECT_EQ(Settings.FileFormat, OutputFormat::Avi);
    EXPECT_FALSE(Settings.RunFormat);

    // With no codec chosen the recording takes the default one: MP4 stays.
    Settings.CodecIndex = -1;
    Open();
    EXPECT_TRUE(model->item(1)->isEnabled());
}

TEST_F(OptionsTest, SoundControlsFollowTheBoxAndOkStoresTheFormat) {
    Start();
    Open();
    auto* box = Control<QCheckBox>("audioRecordCheck");
    auto* formats = Control<QComboBox>("audioFormatCombo");
    auto* inputs = Control<QComboBox>("audioInputCombo");
    const auto soundControls = [&] {
        return std::vector<QWidget*>{formats, inputs, Control<QLabel>("audioFormatLabel"),
                                     Control<QLabel>("audioInputLabel"),
                                     Control<QLabel>("audioVolumeLabel")};
    };
    ASSERT_FALSE(box->isChecked());
    for (QWidget* w : soundControls())
        EXPECT_FALSE(w->isEnabled()) << w->objectName().toStdString();
    EXPECT_TRUE(box->isVisible());
    EXPECT_TRUE(Control<QLabel>("audioFormatLabel")->isVisible());
    // Twenty formats, the engine's (the recorder's default) selected.
    ASSERT_EQ(formats->count(), 20);
    EXPECT_EQ(formats->currentIndex(), Camera().AudioFormatIndex);
    EXPECT_GE(Camera().AudioFormatIndex, 0);
    // The inputs are the mixer's lines with its selection.
    const engine::AudioInputInfo mixer = Camera().ListAudioInputs();
    ASSERT_NE(mixer.names, nullptr);
    // The mixer's lines, and where a sound server names its microphone and
    // its output's monitor, the entry that picks both.
    std::string microphone, monitor;
    const bool both =
        Camera().DefaultAudioInputs(microphone, monitor) && !microphone.empty() && !monitor.empty();
    EXPECT_EQ(inputs->count(), static_cast<int>(mixer.names->size()) + (both ? 1 : 0));
    EXPECT_EQ(inputs->currentIndex(), mixer.selected);

    box->click();
    for (QWidget* w : soundControls()) EXPECT_TRUE(w->isEnabled()) << w->objectName().toStdString();
    // Our own gain, for any input: usable with sound on, at the input's own
    // level until moved.
    auto* volume = Control<QSlider>("audioVolumeSlider");
    EXPECT_TRUE(volume->isEnabled());
    EXPECT_EQ(volume->value(), 100);
    EXPECT_EQ(Control<QLabel>("audioVolumeValue")->text(), QStringLiteral("100"));
    volume->setValue(37);
    EXPECT_EQ(Control<QLabel>("audioVolumeValue")->text(), QStringLiteral("37"));
    Pick(formats, 19);  // stereo, 16 bits, 48 kHz
    ClickOk();
    EXPECT_TRUE(Settings.AudioRecordEnable);
    EXPECT_EQ(Settings.AudioFormatIndex, 19);
    EXPECT_EQ(Settings.AudioInputGain, 37);
    EXPECT_TRUE(SetupIni().contains(QStringLiteral("AudioInputGain=37")));
    EXPECT_TRUE(SetupIni().contains(QStringLiteral("AudioRecordEnable=1")));
    EXPECT_TRUE(SetupIni().contains(QStringLiteral("AudioFormatIndex=19")));

    Open();
    box->click();
    for (QWidget* w : soundControls())
        EXPECT_FALSE(w->isEnabled()) << w->objectName().toStdString();
    EXPECT_FALSE(volume->isEnabled());
    EXPECT_FALSE(Control<QLabel>("audioVolumeValue")->isEnabled());
}

TEST_F(OptionsTest, AnInputPickedIsStoredAtOnceAndSelectedOnTheMixerAtOk) {
    Start();
    const engine::AudioInputInfo before = Camera().ListAudioInputs();
    ASSERT_NE(before.names, nullptr);
    if (before.names->size() < 2) GTEST_SKIP() << "the mixer has fewer than two inputs";
    const int other = before.selected == 0 ? 1 : 0;
    Open();
    Control<QCheckBox>("audioRecordCheck")->click();
    Pick(Control<QComboBox>("audioInputCombo"), other);
    EXPECT_EQ(Settings.AudioInputIndex, other);
    // Nothing changes on the mixer before the settings are applied.
    EXPECT_EQ(Camera().ListAudioInputs().selected, before.selected);
    ClickOk();
    EXPECT_EQ(Camera().ListAudioInputs().selected, other);
    EXPECT_TRUE(Camera().RecordAudio);
    EXPECT_TRUE(SetupIni().contains(QStringLiteral("AudioInputIndex=%1").arg(other)));
    // The next opening shows the mixer's choice.
    Open();
    EXPECT_EQ(Control<QComboBox>("audioInputCombo")->currentIndex(), other);
}

// "Also record": "(none)" and the server's inputs by their sources' names;
// its volume and the tracks only with one chosen; a name the server does not
// have now is shown and kept. The shortcut picks the microphone and the
// output's monitor at once.
TEST_F(OptionsTest, TheSecondInputIsChosenFromTheSameListAndStoredByItsSourcesName) {
    Start();
    const engine::AudioInputInfo inputs = Camera().ListAudioInputs();
    ASSERT_NE(inputs.names, nullptr);
    std::string microphone, monitor;
    if (!Camera().DefaultAudioInputs(microphone, monitor) || monitor.empty())
        GTEST_SKIP() << "no sound server";
    Settings.AudioRecordEnable = true;
    Open();
    auto* second = Control<QComboBox>("audioInput2Combo");
    auto* volume = Control<QSlider>("audioVolume2Slider");
    auto* tracks = Control<QCheckBox>("separateTracksCheck");
    ASSERT_EQ(second->count(), static_cast<int>(inputs.names->size()) + 1);
    EXPECT_EQ(second->itemText(0), QStringLiteral("(none)"));
    EXPECT_EQ(second->currentIndex(), 0);
    EXPECT_TRUE(second->isEnabled());
    EXPECT_FALSE(volume->isEnabled());
    EXPECT_FALSE(tracks->isEnabled());
    const int item = second->findData(QString::fromStdString(monitor));
    ASSERT_GT(item, 0);
    Pick(second, item);
    EXPECT_EQ(Settings.AudioInput2Name, monitor);
    EXPECT_TRUE(volume->isEnabled() && tracks->isEnabled());
    volume->setValue(50);
    tracks->click();
    ClickOk();
    EXPECT_EQ(Camera().SecondAudioInput(), monitor);
    EXPECT_TRUE(Camera().SeparateSoundTracks);
    EXPECT_TRUE(
        SetupIni().contains(QStringLiteral("AudioInput2Name=") + QString::fromStdString(monitor)));
    EXPECT_TRUE(SetupIni().contains(QStringLiteral("AudioInput2Volume=50")));
    EXPECT_TRUE(SetupIni().contains(QStringLiteral("AudioSeparateTracks=1")));

    // A headset that is not plugged in now keeps its place.
    Settings.AudioInput2Name = "alsa_input.usb-headset";
    Open();
    EXPECT_EQ(second->currentText(), QStringLiteral("alsa_input.usb-headset"));
    ClickOk();
    EXPECT_EQ(Settings.AudioInput2Name, "alsa_input.usb-headset");

    // Both in one step: the server's microphone first, the monitor beside it.
    Open();
    auto* first = Control<QComboBox>("audioInputCombo");
    Pick(first, first->count() - 1);
    ASSERT_GE(Settings.AudioInputIndex, 0);
    EXPECT_EQ(first->currentIndex(), Settings.AudioInputIndex);
    EXPECT_EQ((*inputs.sources)[static_cast<std::size_t>(Settings.AudioInputIndex)], microphone);
    EXPECT_EQ(Settings.AudioInput2Name, monitor);
    EXPECT_EQ(second->currentData().toString().toStdString(), monitor);
    ClickOk();
}

// Beside each volume slider the level it records at, on the one scale both
// inputs use, in the language's words and numbers; the figure never pushes
// the sliders about. An older file's second volume shows its old level.
TEST_F(OptionsTest, EachVolumeShowsItsLevelInDecibelsOnTheSameScale) {
    Start(
        QStringLiteral("[SetupAudio]\nAudioRecordEnable=1\nAudioInputGain=50\n"
                       "AudioInput2Name=speakers.monitor\nAudioInput2Volume=50\n"));
    Open();
    auto* first = Control<QSlider>("audioVolumeSlider");
    auto* second = Control<QSlider>("audioVolume2Slider");
    auto* firstDb = Control<QLabel>("audioVolumeDecibels");
    auto* secondDb = Control<QLabel>("audioVolume2Decibels");
    EXPECT_EQ(first->value(), 50);
    EXPECT_EQ(firstDb->text(), QStringLiteral("-18.1 dB"));
    EXPECT_EQ(second->value(), 79);
    EXPECT_EQ(secondDb->text(), QStringLiteral("-6.1 dB"));
    EXPECT_TRUE(firstDb->isEnabled() && secondDb->isEnabled());
    second->setValue(50);
    EXPECT_EQ(secondDb->text(), firstDb->text());

    const auto shown = [&](QSlider* slider, QLabel* label) {
        QStringList texts;
        options_->layout()->activate();
        const int length = slider->width();
        for (int percent : {100, 1, 0, 37}) {
            slider->setValue(percent);
            options_->layout()->activate();
            EXPECT_EQ(slider->width(), length) << percent;
            EXPECT_GE(label->width(), label->fontMetrics().horizontalAdvance(label->text()))
                << label->text().toStdString();
            texts << label->text();
        }
        return texts;
    };
    EXPECT_EQ(shown(first, firstDb),
              (QStringList{"0.0 dB", "-120.0 dB", QStringLiteral("-\u221e dB"), "-25.9 dB"}));
    auto* languages = Control<QComboBox>("languageCombo");
    Pick(languages, languages->findData(QStringLiteral("German")));
    EXPECT_EQ(secondDb->text(), QStringLiteral("-18,1 dB"));
    EXPECT_EQ(shown(second, secondDb),
              (QStringList{"0,0 dB", "-120,0 dB", QStringLiteral("-\u221e dB"), "-25,9 dB"}));
    Pick(languages, languages->findData(QStringLiteral("Russian")));
    EXPECT_EQ(shown(first, firstDb),
              (QStringList{"0,0 дБ", "-120,0 дБ", QStringLiteral("-\u221e дБ"), "-25,9 дБ"}));
    ClickOk();
    EXPECT_EQ(Settings.AudioInputGain, 37);
    EXPECT_EQ(Settings.AudioInput2Volume, 37);
    EXPECT_TRUE(SetupIni().contains(QStringLiteral("AudioInput2VolumeLaw=cubic")));
}

TEST_F(OptionsTest, TheDialogShowsTheStoredInputAndFormatAndOkKeepsThem) {
    Start();
    const engine::AudioInputInfo inputs = Camera().ListAudioInputs();
    ASSERT_NE(inputs.names, nullptr);
    if (inputs.names->size() < 2) GTEST_SKIP() << "the mixer has fewer than two inputs";
    // Sound off, another input and another format stored than the mixer's
    // and the engine's own: the file of an earlier session.
    const int stored = inputs.selected == 0 ? 1 : 0;
    const int format = Camera().AudioFormatIndex == 19 ? 18 : 19;
    Settings.AudioRecordEnable = false;
    Settings.AudioInputIndex = stored;
    Settings.AudioInputName = (*inputs.names)[static_cast<std::size_t>(stored)];
    Settings.AudioFormatIndex = format;
    Settings.AudioInputGain = 63;
    Open();
    EXPECT_EQ(Control<QComboBox>("audioInputCombo")->currentIndex(), stored);
    EXPECT_EQ(Control<QComboBox>("audioFormatCombo")->currentIndex(), format);
    Control<QCheckBox>("audioRecordCheck")->click();
    EXPECT_EQ(Control<QSlider>("audioVolumeSlider")->value(), 63);
    ClickOk();
    EXPECT_EQ(Settings.AudioFormatIndex, format);
    EXPECT_EQ(Settings.AudioInputIndex, stored);
    EXPECT_EQ(Settings.AudioInputGain, 63);
    // And the next recording records it.
    EXPECT_TRUE(Camera().RecordAudio);
    EXPECT_EQ(Camera().AudioFormatIndex, format);
    EXPECT_EQ(Camera().ListAudioInputs().selected, stored);
    EXPECT_TRUE(SetupIni().contains(QStringLiteral("AudioInputName=") +
                                    QString::fromStdString(Settings.AudioInputName)));

    // Stored by name at a place the list no longer has it: found by its name.
    Settings.AudioInputIndex = stored == 0 ? 1 : 0;
    Open();
    EXPECT_EQ(Control<QComboBox>("audioInputCombo")->currentIndex(), stored);
    EXPECT_EQ(Settings.AudioInputIndex, stored);
}

TEST_F(OptionsTest, OkDuringARecordingKeepsItsValuesForTheNextOneAndItsStopCaption) {
    Start();
    // F9 reaches the main window while the dialog is open.
    Open();
    form_->HotKeyPressed(platform::kVkF9);
    ASSERT_TRUE(Camera().Recording);
    // A language chosen meanwhile keeps the Record button's Stop caption.
    auto* languages = Control<QComboBox>("languageCombo");
    Pick(languages, languages->findData(QStringLiteral("German")));
    EXPECT_EQ(form_->findChild<QToolButton*>(QStringLiteral("recordButton"))->text(),
              QStringLiteral("Stopp (F10)"));
    Control<QSlider>("frameRateSlider")->setValue(50);
    ClickOk();
    EXPECT_FALSE(options_->isVisible());
    EXPECT_EQ(Settings.VideoFPS, 50);
    EXPECT_TRUE(SetupIni().contains(QStringLiteral("VideoFPS=50")));
    EXPECT_EQ(Camera().FramesPerSecond, 15u);  // the running file keeps its rate
    ASSERT_TRUE(Until([&] { return Camera().FramesWritten > 0; }));
    form_->StopCapture();
    ASSERT_TRUE(Merged()) << Log().toStdString();
    form_->StartCapture();
    EXPECT_EQ(Camera().FramesPerSecond, 50u);
    EXPECT_EQ(Camera().FrameInterval, 20);
    form_->StopCapture();
}

TEST_F(OptionsTest, TheMainWindowsOptionsButtonOpensTheOneDialogModally) {
    Start();
    ASSERT_TRUE(Until([&] { return form_->isVisible(); }));
    bool modal = false;
    QTimer ok;
    QObject::connect(&ok, &QTimer::timeout, [&] {
        if (QApplication::activeModalWidget() != options_.get()) return;
        modal = true;
        Control<QSlider>("frameRateSlider")->setValue(25);
        ClickOk();
    });
    ok.start(20);
    form_->findChild<QToolButton*>(QStringLiteral("optionsButton"))->click();
    EXPECT_TRUE(modal);
    EXPECT_EQ(Settings.VideoFPS, 25);
    EXPECT_EQ(Camera().FrameInterval, 40);
}

TEST_F(OptionsTest, APresetSetsTheControlsOkKeepsThemAndCancelDropsThem) {
    Start();
    const int x264 = CompressorPosition("H.264 (x264)");
    ASSERT_GE(x264, 0);
    Open();
    auto* presets = Control<QComboBox>("presetCombo");
    auto* codecs = Control<QComboBox>("codecCombo");
    auto* fps = Control<QSlider>("frameRateSlider");
    // A first start's settings are the Default preset.
    EXPECT_EQ(presets->currentText(), QStringLiteral("Default"));
    const auto pick = [&](const char* title) {
        const int item = presets->findText(QLatin1String(title));
        ASSERT_GE(item, 0) << title;
        Pick(presets, item);
    };

    pick("Small file");
    EXPECT_EQ(codecs->currentIndex(), x264);
    EXPECT_EQ(Control<QComboBox>("fileFormatCombo")->currentText(), QStringLiteral("MP4"));
    EXPECT_EQ(Control<QComboBox>("soundCodecCombo")->currentText(), QStringLiteral("AAC"));
    EXPECT_EQ(KeyFrames()->text(), QStringLiteral("30"));
    EXPECT_TRUE(Control<QCheckBox>("audioRecordCheck")->isChecked());
    EXPECT_EQ(presets->currentText(), QStringLiteral("Small file"));
    // Cancel: nothing of it stays, x264's preset neither.
    Control<QPushButton>("cancelButton")->click();
    EXPECT_EQ(Settings.CodecIndex, CompressorPosition("Xvid MPEG-4 Codec"));
    EXPECT_FALSE(Settings.AudioRecordEnable);
    EXPECT_EQ(Settings.X264Preset, "ultrafast");
    EXPECT_EQ(engine::TScreenCamera::H264Preset(), "ultrafast");

    // Chosen, then changed: "Custom", and OK keeps what the controls show.
    Open();
    EXPECT_EQ(presets->currentText(), QStringLiteral("Default"));
    pick("Small file");
    fps->setValue(20);
    EXPECT_EQ(presets->currentText(), QStringLiteral("Custom"));
    ClickOk();
    EXPECT_EQ(Settings.CodecIndex, x264);
    EXPECT_EQ(Settings.AudioCodec, SoundCodec::Aac);
    EXPECT_EQ(Settings.VideoFPS, 20);
    EXPECT_EQ(Settings.X264Preset, "veryfast");
    EXPECT_EQ(engine::TScreenCamera::H264Preset(), "veryfast");
    EXPECT_TRUE(SetupIni().contains(QStringLiteral("\nX264Preset=veryfast\n")))
        << SetupIni().toStdString();
    Open();
    EXPECT_EQ(presets->currentText(), QStringLiteral("Custom"));
    fps->setValue(15);
    EXPECT_EQ(presets->currentText(), QStringLiteral("Small file"));
    pick("Default");
    ClickOk();
    EXPECT_EQ(Settings.FileFormat, OutputFormat::Avi);
    EXPECT_EQ(engine::TScreenCamera::H264Preset(), "ultrafast");
}

}  // namespace
