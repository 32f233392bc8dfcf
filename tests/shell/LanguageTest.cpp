// Language files applied to the main window and to stand-in windows, in a
// temporary program folder.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTextStream>
#include <map>

#include "common/EventLog.h"
#include "common/Language.h"
#include "common/ProgramFolder.h"
#include "common/Settings.h"
#include "net/AboutDialog.h"
#include "net/UpdateDialog.h"
#include "overlays/AreaPanel.h"
#include "overlays/AreaSelector.h"
#include "platform/profile/Profile.h"
#include "shell/MainWindow.h"
#include "shell/OptionsDialog.h"
#include "shell/RecordingTexts.h"

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
    // its own name and locale, 15 + 10 + 50 + 5 + 3 window keys, 106 messages
    EXPECT_EQ(english.size(), 199u);
    for (int n = 1; n <= 11; ++n)
        EXPECT_NE(std::find(english.begin(), english.end(),
                            std::pair{QStringLiteral("Messages"), QStringLiteral("Log%1").arg(n)}),
                  english.end());
    for (const char* other : {"German", "Russian"}) {
        const auto theirs = keys(kShipped + u'/' + QLatin1String(other) + QStringLiteral(".lng"));
        EXPECT_EQ(theirs, english) << other;
        const std::string file =
            (kShipped + u'/' + QLatin1String(other) + QStringLiteral(".lng")).toStdString();
        for (int n = 1; n <= 18; ++n)
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
    // Numbers past the first hundred are read too.
    EXPECT_TRUE(MsgTexts(102).startsWith(QStringLiteral("Die Suche")))
        << MsgTexts(102).toStdString();
    EXPECT_TRUE(MsgTexts(109).startsWith(QStringLiteral("Die Kopie")))
        << MsgTexts(109).toStdString();
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
    EXPECT_EQ(MsgTexts(201), QString());

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

TEST_F(LanguageTest, AFirstStartSpeaksTheDesktopsLanguageWhereThereIsAFileOfIt) {
    Use("English");
    EXPECT_EQ(LanguageForLocale(QLocale(QStringLiteral("de_DE"))), "German");
    EXPECT_EQ(LanguageForLocale(QLocale(QStringLiteral("ru_RU"))), "Russian");
    EXPECT_EQ(LanguageForLocale(QLocale(QStringLiteral("fr_FR"))), "English");
    EXPECT_EQ(LanguageForLocale(QLocale::c()), "English");
    EXPECT_EQ(LanguageTitle("German"), QStringLiteral("Deutsch"));
    EXPECT_EQ(LanguageTitle("Russian"), QStringLiteral("Русский"));
    Language(QStringLiteral("Plain"), QStringLiteral("[Main]\nButton3=Plain\n"));
    EXPECT_EQ(LanguageTitle("Plain"), QStringLiteral("Plain"));
}

// The buttons Qt words itself, a question's Yes and No, speak the language
// too, and go back to English with it; a file without a locale keeps them
// English.
TEST_F(LanguageTest, QuestionsButtonsFollowTheLanguage) {
    const auto buttons = [] {
        QMessageBox box(QMessageBox::Question, QString(), QString(),
                        QMessageBox::Yes | QMessageBox::No);
        return box.button(QMessageBox::Yes)->text() + u'/' + box.button(QMessageBox::No)->text();
    };
    Use("German");
    EXPECT_EQ(buttons(), QStringLiteral("&Ja/&Nein"));
    Use("Russian");
    EXPECT_EQ(buttons(), QStringLiteral("&Да/&Нет"));
    Use("English");
    EXPECT_EQ(buttons(), QStringLiteral("&Yes/&No"));
    Use("German");
    Language(QStringLiteral("Plain"), QStringLiteral("[Main]\nButton3=Plain\n"));
    Use("Plain");
    EXPECT_EQ(buttons(), QStringLiteral("&Yes/&No"));
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

// Hint keys give tooltips to controls of any kind; a list's keys count its
// items from 1 and leave the items they do not reach.
TEST_F(LanguageTest, HintsGiveTooltipsAndListKeysGiveItems) {
    QWidget main, options;
    auto* button = new QPushButton(QStringLiteral("b"), &main);
    auto* edit = new QLineEdit(&main);
    auto* list = new QComboBox(&options);
    list->addItems({QStringLiteral("one"), QStringLiteral("two"), QStringLiteral("three")});
    Language(QStringLiteral("Test"),
             QStringLiteral("[Main]\nHint1=Knopf\nHint2=Feld\nButton3=Taste\n"
                            "[Options]\nPriority0=null\nPriority2=zwei\nPriority4=vier\n"
                            "Hint1=Vorgabe\n"));
    SetLanguageWindow(LanguageWindow::Main, &main,
                      {{"Hint1", button}, {"Hint2", edit}, {"Button3", button}});
    SetLanguageWindow(
        LanguageWindow::Options, &options,
        {{"Priority0", list}, {"Priority2", list}, {"Priority4", list}, {"Hint1", list}});
    Use("Test");
    EXPECT_EQ(button->toolTip(), QStringLiteral("Knopf"));
    EXPECT_EQ(button->text(), QStringLiteral("Taste"));
    EXPECT_EQ(edit->toolTip(), QStringLiteral("Feld"));
    EXPECT_EQ(list->count(), 3);
    EXPECT_EQ(list->itemText(0), QStringLiteral("one"));
    EXPECT_EQ(list->itemText(1), QStringLiteral("zwei"));
    EXPECT_EQ(list->itemText(2), QStringLiteral("three"));
    EXPECT_EQ(list->toolTip(), QStringLiteral("Vorgabe"));
    SetLanguageWindow(LanguageWindow::Main, nullptr);
    SetLanguageWindow(LanguageWindow::Options, nullptr);
}

// Every text a user meets in the windows, their tooltips and their lists,
// the selector's labels and the grab status come from the language: none of
// these English words is left in German or Russian.
TEST_F(LanguageTest, GermanAndRussianLeaveNoEnglishOnAnyWindow) {
    const QStringList english{"Audio Record",
                              "Idle",
                              "Lowest",
                              "Lower",
                              "Higher",
                              "Highest",
                              "TimeCritical",
                              "About",
                              "Screen recorder",
                              "Exit",
                              "Choose the folder",
                              "Show or hide",
                              "Top",
                              "Left",
                              "Width",
                              "Height",
                              "Options",
                              "Cancel",
                              "Record",
                              "Save to folder",
                              "Frames are grabbed",
                              "Positions",
                              "Information",
                              "Priority",
                              "Settings",
                              "Language",
                              "Close",
                              "folder",
                              "Preset",
                              "Web video",
                              "Small file",
                              "Lossless",
                              "Custom",
                              "one step"};
    const auto englishIn = [&](const QString& text) {
        QStringList found;
        for (const QString& word : english)
            if (text.contains(QRegularExpression(
                    QStringLiteral("\\b%1\\b").arg(QRegularExpression::escape(word)))))
                found << word;
        return found;
    };
    for (const char* language : {"German", "Russian"}) {
        QFile setup(dir_.filePath(QStringLiteral("Setup.ini")));
        ASSERT_TRUE(setup.open(QIODevice::WriteOnly | QIODevice::Truncate));
        setup.write(QStringLiteral("[Setup]\nLanguage=%1\n").arg(QLatin1String(language)).toUtf8());
        setup.close();
        Settings = TSettings{};
        MainWindow form;
        OptionsDialog options(form);
        AboutDialog about(QUrl(QStringLiteral("https://velmora.example")), &form);
        UpdateDialog update(form.Http(), form.Servers(), &form);

        QStringList texts;
        const auto walk = [&](QWidget* window) {
            texts << window->windowTitle();
            for (QWidget* w : window->findChildren<QWidget*>()) {
                if (w->window() != window) continue;  // walked as a window of its own
                texts << w->toolTip();
                if (auto* label = qobject_cast<QLabel*>(w)) texts << label->text();
                if (auto* button = qobject_cast<QAbstractButton*>(w)) texts << button->text();
                if (auto* group = qobject_cast<QGroupBox*>(w)) texts << group->title();
                if (auto* list = qobject_cast<QComboBox*>(w))
                    for (int i = 0; i < list->count(); ++i) texts << list->itemText(i);
            }
        };
        for (QWidget* window :
             std::initializer_list<QWidget*>{&form, form.Panel(), &options, &about})
            walk(window);
        // The update dialog takes its texts when it shows.
        update.Activated();
        walk(&update);
        for (const SelectionLabel& label :
             SelectionLabels({100, 100, 300, 200}, MsgTexts(9), AreaSelector::LabelWords(), {}))
            texts << label.text;
        texts << MsgTexts(10);
        engine::TRealtimeGrabs grabs;
        grabs.priority = 1;
        for (bool granted : {true, false})
            for (bool byKit : {true, false}) {
                grabs.granted = granted;
                grabs.byRealtimeKit = byKit;
                texts << RealtimeGrabsStatus(grabs, LogTexts(7), LogTexts(8), LogTexts(9));
            }
        for (const QString& text : texts)
            EXPECT_TRUE(englishIn(text).isEmpty())
                << language << ": \"" << text.toStdString() << "\" has "
                << englishIn(text).join(u',').toStdString();
    }
}

// The shipped English gives the same texts the windows are made with.
TEST_F(LanguageTest, TheGrabStatusAndSelectorWordsFollowTheLanguage) {
    engine::TRealtimeGrabs grabs;
    grabs.granted = true;
    grabs.priority = 2;
    Use("English");
    EXPECT_EQ(RealtimeGrabsStatus(grabs, LogTexts(7), LogTexts(8), LogTexts(9)).toStdString(),
              engine::RealtimeGrabsText(grabs));
    grabs.granted = false;
    grabs.reason = "RLIMIT_RTPRIO is 0 (100% refused)";
    EXPECT_EQ(RealtimeGrabsStatus(grabs, LogTexts(7), LogTexts(8), LogTexts(9)).toStdString(),
              engine::RealtimeGrabsText(grabs));
    // A language without the texts keeps the English sentence.
    EXPECT_EQ(RealtimeGrabsStatus(grabs, {}, {}, {}).toStdString(),
              engine::RealtimeGrabsText(grabs));
    Use("German");
    EXPECT_EQ(RealtimeGrabsStatus(grabs, LogTexts(7), LogTexts(8), LogTexts(9)),
              QStringLiteral("Bilder werden mit normaler Priorität aufgenommen (keine "
                             "Echtzeitplanung: RLIMIT_RTPRIO is 0 (100% refused)); solange andere "
                             "Programme die Prozessoren auslasten, kann ein Bild einige "
                             "Millisekunden zu spät aufgenommen werden."));
    EXPECT_EQ(AreaSelector::LabelWords().height, QStringLiteral("Höhe"));
}

}  // namespace
