// A fuzzed language file through ApplyLanguage, with a window of every kind
// registered: the texts land on the controls they name, the message tables
// stay within their bounds and a child window keeps its own texts.

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>
#include <cstdlib>
#include <filesystem>

#include "common/Language.h"
#include "common/ProgramFolder.h"
#include "common/Settings.h"
#include "tests/fuzz/FuzzFiles.h"

using namespace velmora;

namespace {

template <typename T>
T* Control(QWidget* parent, const char* name) {
    auto* control = new T(parent);
    control->setObjectName(QString::fromLatin1(name));
    return control;
}

struct Windows {
    Windows() {
        auto* folder = Control<QLabel>(&main, "folderLabel");
        record = Control<QPushButton>(&main, "recordButton");
        auto* cancel = Control<QToolButton>(&main, "cancelMergeButton");
        // A window of its own inside the main window: [Main] is not for it.
        auto* panel = new QWidget(&main, Qt::Window);
        panelLabel = Control<QLabel>(panel, "topLabel");
        panelLabel->setText(QStringLiteral("panel"));
        SetLanguageWindow(LanguageWindow::Main, &main,
                          {{"Label1", folder}, {"Button1", record}, {"Button2", cancel}});
        SetLanguageWindow(LanguageWindow::Add, &add,
                          {{"Label2", Control<QLabel>(&add, "topLabel")},
                           {"GroupBox1", Control<QGroupBox>(&add, "figuresGroup")}});
        SetLanguageWindow(LanguageWindow::Options, &options,
                          {{"CheckBox1", Control<QCheckBox>(&options, "cursorCheck")},
                           {"Button100", Control<QPushButton>(&options, "lastButton")}});
        SetLanguageWindow(LanguageWindow::Update, &update,
                          {{"Label10", Control<QLabel>(&update, "lastLabel")}});
    }
    QWidget main, add, options, update;
    QPushButton* record;
    QLabel* panelLabel;
};

// The application and the windows live until exit; a test run may bring
// its own application.
Windows& Setup() {
    static int argc = 1;
    static char name[] = "fuzz_language";
    static char* argv[] = {name, nullptr};
    static Windows* windows = [] {
        if (!QCoreApplication::instance()) {
            ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
            new QApplication(argc, argv);
        }
        std::filesystem::create_directories(fuzz::ScratchFolder() + "Language");
        SetProgramFolder(fuzz::ScratchFolder());
        Settings.Language = "Fuzz";
        return new Windows;
    }();
    return *windows;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Windows& windows = Setup();
    fuzz::WriteScratchFile("Language/Fuzz.lng", data, size);
    ApplyLanguage();
    FUZZ_CHECK(windows.record->text() == MsgTexts(1));
    FUZZ_CHECK(windows.panelLabel->text() == QStringLiteral("panel"));
    FUZZ_CHECK(LogTexts(0).isEmpty() && LogTexts(51).isEmpty() && MsgTexts(-1).isEmpty());
    return 0;
}
