// Language files applied to the main window and to stand-in windows, in a
// temporary program folder.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextStream>
#include <map>

#include "common/EventLog.h"
#include "common/Language.h"
#include "common/ProgramFolder.h"
#include "common/Settings.h"
#include "overlays/AreaPanel.h"
#include "platform/profile/Profile.h"
#include "shell/MainWindow.h"

using namespace velmora;

namespace {

const QString kShipped = QStringLiteral(VELMORA_LANGUAGE_DIR);

class LanguageTest : public testing::Test {
  protected:
    void SetUp() override {
        QDir(dir_.path()).mkdir(QStringLiteral("Language"));
        SetProgramFolder(dir_.path().toStdString());
        for (const char* name : {"English", "German", "Russian"})
            QFile::copy(kShipped + u'/' + QLatin1String(name) + QStringLiteral(".lng"),
                        dir_.filePath(QStringLiteral("Language/%1.lng").arg(QLatin1String(name))));
        Settings = TSettings{};
    }
    void TearDown() override { SetProgramFolder(""); }

    void Language(const QString& name, const QString& text) {
        QFile f(dir_.filePath(QStringLiteral("Language/") + name + QStringLiteral(".lng")));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(text.toUtf8());
    }
    void Use(const char* language) {
        Settings.Language = language;
        ApplyLanguage();
    }
    static std::map<QString, QString> Captions(QWidget* window) {
        std::map<QString, QString> captions;
        // Only this window's controls: the companion panel is a child window.
        for (auto* b : window->findChildren<QAbstractButton*>())
            if (b->window() == window) captions[b->objectName()] = b->text();
        for (auto* l : window->findChildren<QLabel*>())
            if (l->window() == window) captions[l->objectName()] = l->text();
        return captions;
    }

    QTemporaryDir dir_;
};

TEST_F(LanguageTest, ShippedLanguagesHaveEveryKeyOfEnglish) {
    auto keys = [](const QString& file) {
        std::vector<std::pair<QString, QString>> keys;
        QFile f(file);
        EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << file.toStdString();
        QString section;
        for (const QString& line : QString::fromUtf8(f.readAll()).split(u'\n')) {
            if (line.startsWith(u'['))
                section = line.mid(1, line.indexOf(u']') - 1);
            else if (line.contains(u'=') && !line.startsWith(u';'))
                keys.emplace_back(section, line.left(line.indexOf(u'=')));
        }
        return keys;
    };
    const auto english = keys(kShipped + QStringLiteral("/English.lng"));
    // 11 + 10 + 34 + 5 + 3 window keys, 26 messages
    EXPECT_EQ(english.size(), 89u);
    for (int n = 1; n <= 6; ++n)
        EXPECT_NE(std::find(english.begin(), english.end(),
                            std::pair{QStringLiteral("Messages"), QStringLiteral("Log%1").arg(n)}),
                  english.end());
    for (const char* other : {"German", "Russian"}) {
        const auto theirs = keys(kShipped + u'/' + QLatin1String(other) + QStringLiteral(".lng"));
        EXPECT_EQ(theirs, english) << other;
        const std::string file =
            (kShipped + u'/' + QLatin1String(other) + QStringLiteral(".lng")).toStdString();
        for (int n = 1; n <= 17; ++n)
            EXPECT_NE(platform::GetPrivateProfileString("Messages", "TextMsg" + std::to_string(n),
                                                        "", file),
                      "")
                << other << " TextMsg" << n;
    }
}

TEST_F(LanguageTest, MainWindowTakesItsLanguageAtStartAndKeepsItsCaption) {
    QFile setup(dir_.filePath(QStringLiteral("Setup.ini")));
    ASSERT_TRUE(setup.open(QIODevice::WriteOnly));
    setup.write("[Setup]\nLanguage=German\n");
    setup.close();
    MainWindow form;
    auto* options = form.findChild<QAbstractButton*>(QStringLiteral("optionsButton"));
    auto* record = form.findChild<QAbstractButton*>(QStringLiteral("recordButton"));
    ASSERT_TRUE(options && record);
    EXPECT_EQ(options->text(), QStringLiteral("Optionen"));
    EXPECT_EQ(record->text(), QStringLiteral("Start (F9)"));
    EXPECT_EQ(form.findChild<QAbstractButton*>(QStringLiteral("areaButton"))->text(),
              QStringLiteral("Bereich\nwählen"));
    EXPECT_EQ(MsgTexts(2), QStringLiteral("Stopp (F10)"));
    Use("Russian");
    EXPECT_EQ(options->text(), QStringLiteral("Настройки"));
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Velmora 1.0.4"));

    // The log reaches the status bar on the window's thread.
    WriteLog(QStringLiteral("status check"));
    EXPECT_EQ(form.findChild<QLabel*>(QStringLiteral("StatusPanel"))->text(),
              QStringLiteral("status check"));
}

TEST_F(LanguageTest, ShippedCaptionsFitTheMainWindowsButtons) {
    MainWindow form;
    // A tool button cuts a line wider than itself less its frame.
    const auto fits = [](QAbstractButton* button, const QString& text) {
        for (const QString& line : text.split(u'\n'))
            if (button->fontMetrics().horizontalAdvance(line) > button->width() - 6) return false;
        return true;
    };
    auto* record = form.findChild<QAbstractButton*>(QStringLiteral("recordButton"));
    for (const char* language : {"English", "German", "Russian"}) {
        Use(language);
        for (const QString& text : {MsgTexts(1), MsgTexts(2)})
            EXPECT_TRUE(fits(record, text)) << language << " " << text.toStdString();
        // Beside its icon a caption has the button's width less the icon's.
        for (const char* name : {"areaButton", "fullScreenButton"}) {
            auto* button = form.findChild<QAbstractButton*>(QLatin1String(name));
            const QString text = button->text();
            EXPECT_LE(button->fontMetrics().horizontalAdvance(text.section(u'\n', 0, 0)),
                      button->width() - 6 - 32 - 4)
                << language << " " << name;
            EXPECT_LE(button->fontMetrics().horizontalAdvance(text.section(u'\n', 1)),
                      button->width() - 6 - 32 - 4)
                << language << " " << name;
        }
    }
}

TEST_F(LanguageTest, OneKeyFileChangesOneControlAndMissingKeysKeepThePreviousLanguage) {
    MainWindow form;
    Use("English");
    const auto before = Captions(&form);
    Language(QStringLiteral("Partial"), QStringLiteral("[Main]\nButton3=Optionen\n"));
    Use("Partial");
    auto after = Captions(&form);
    EXPECT_EQ(after[QStringLiteral("optionsButton")], QStringLiteral("Optionen"));
    after[QStringLiteral("optionsButton")] = before.at(QStringLiteral("optionsButton"));
    EXPECT_EQ(after, before);
    EXPECT_EQ(MsgTexts(2), QStringLiteral("Stop (F10)"));
    EXPECT_EQ(LogTexts(3), QStringLiteral("Video file saved"));
    EXPECT_EQ(MsgTexts(0), QString());
    EXPECT_EQ(MsgTexts(51), QString());

    // A missing file changes nothing either.
    Use("Klingon");
    EXPECT_EQ(Captions(&form)[QStringLiteral("optionsButton")], QStringLiteral("Optionen"));
    // A name that differs in case still finds its file.
    Use("german");
    EXPECT_EQ(Captions(&form)[QStringLiteral("optionsButton")], QStringLiteral("Optionen"));
    EXPECT_EQ(Captions(&form)[QStringLiteral("folderLabel")],
              QStringLiteral("Speichern in Ordner:"));
}

TEST_F(LanguageTest, MainSectionLeavesThePanelsControlsToTheAddSection) {
    MainWindow form;
    auto* panelTop = form.Panel()->findChild<QLabel*>(QStringLiteral("topLabel"));
    auto* panelWidth = form.Panel()->findChild<QLabel*>(QStringLiteral("widthLabel"));
    ASSERT_TRUE(panelTop && panelWidth);
    ASSERT_NE(panelTop->window(), &form);
    const QString top = panelTop->text();
    Language(QStringLiteral("Mixed"), QStringLiteral("[Main]\nLabel2=Main2\nLabel4=Main4\n"
                                                     "Label1=Ordner\n[Add]\nLabel4=Breite\n"));
    Use("Mixed");
    EXPECT_EQ(panelTop->text(), top);
    EXPECT_EQ(panelWidth->text(), QStringLiteral("Breite"));
    EXPECT_EQ(form.Panel()->figuresLabel->text(), QString());
    EXPECT_EQ(Captions(&form)[QStringLiteral("folderLabel")], QStringLiteral("Ordner"));
}

TEST_F(LanguageTest, LanguageNameMustBeABareFileName) {
    // A file outside the language folder that a crafted name would reach.
    Language(QStringLiteral("../Outside"), QStringLiteral("[Main]\nButton3=Outside\n"));
    ASSERT_TRUE(QFileInfo::exists(dir_.filePath(QStringLiteral("Outside.lng"))));
    for (const char* name :
         {"../Outside", "./../Outside", "..", ".", "", "Language/../../Outside", "/etc/passwd"})
        EXPECT_EQ(LanguageFilePath(name), std::string()) << name;
    EXPECT_NE(LanguageFilePath(std::string("English\0/x", 11)), LanguageFilePath("English"));
    EXPECT_EQ(LanguageFilePath("English"),
              dir_.filePath(QStringLiteral("Language/English.lng")).toStdString());

    MainWindow form;
    Use("English");
    Use("../Outside");
    EXPECT_EQ(Captions(&form)[QStringLiteral("optionsButton")], QStringLiteral("Options"));
}

TEST_F(LanguageTest, ControlsAreMatchedByNameKindAndNumberRange) {
    QWidget options, update;
    options.setWindowTitle(QStringLiteral("design"));
    auto add = [](QWidget* parent, QWidget* w, const char* name) {
        w->setParent(parent);
        w->setObjectName(QLatin1String(name));
        return w;
    };
    auto* label = static_cast<QLabel*>(add(&options, new QLabel("l"), "Label1"));
    auto* check = static_cast<QCheckBox*>(add(&options, new QCheckBox("c"), "CheckBox4"));
    auto* wrongKind = static_cast<QCheckBox*>(add(&options, new QCheckBox("w"), "Button2"));
    auto* group = static_cast<QGroupBox*>(add(&options, new QGroupBox("g"), "GroupBox2"));
    auto* far = static_cast<QLabel*>(add(&options, new QLabel("f"), "Label101"));
    auto* notNumbered =
        static_cast<QCheckBox*>(add(&options, new QCheckBox("a"), "AudioRecordCheckbox"));
    auto* updateLabel = static_cast<QLabel*>(add(&update, new QLabel("u"), "Label11"));
    auto* updateButton = static_cast<QPushButton*>(add(&update, new QPushButton("b"), "Button1"));
    Language(QStringLiteral("Test"),
             QStringLiteral("[options]\nname=Optionen\nLABEL1=Eins\nCheckBox4=Vier\nButton2=Zwei\n"
                            "GroupBox2=Gruppe\nLabel101=Weit\nAudioRecordCheckbox=Audio\n"
                            "[Update]\nName=Neu\nLabel11=Elf\nButton1=Schließen\n"));
    SetLanguageWindow(LanguageWindow::Options, &options,
                      {{"Label1", label},
                       {"CheckBox4", check},
                       {"Button2", wrongKind},
                       {"GroupBox2", group},
                       {"Label101", far},
                       {"AudioRecordCheckbox", notNumbered}});
    Use("Test");
    EXPECT_EQ(options.windowTitle(), QStringLiteral("Optionen"));
    EXPECT_EQ(label->text(), QStringLiteral("Eins"));
    EXPECT_EQ(check->text(), QStringLiteral("Vier"));
    EXPECT_EQ(wrongKind->text(), QStringLiteral("w"));
    EXPECT_EQ(group->title(), QStringLiteral("Gruppe"));
    EXPECT_EQ(far->text(), QStringLiteral("f"));
    EXPECT_EQ(notNumbered->text(), QStringLiteral("a"));
    // Not yet registered: untouched.
    EXPECT_EQ(updateButton->text(), QStringLiteral("b"));
    SetLanguageWindow(LanguageWindow::Update, &update,
                      {{"Label11", updateLabel}, {"Button1", updateButton}});
    Use("Test");
    EXPECT_EQ(update.windowTitle(), QStringLiteral("Neu"));
    EXPECT_EQ(updateButton->text(), QStringLiteral("Schließen"));
    EXPECT_EQ(updateLabel->text(), QStringLiteral("u"));
    SetLanguageWindow(LanguageWindow::Options, nullptr);
    SetLanguageWindow(LanguageWindow::Update, nullptr);
}

}  // namespace
