#include "common/Language.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>
#include <QWidget>
#include <array>
#include <mutex>

#include "common/ProgramFolder.h"
#include "common/Settings.h"
#include "platform/profile/Profile.h"

namespace velmora {
namespace {

constexpr int kTableSize = 50;

std::array<QWidget*, 4> windows{};
std::mutex tablesMutex;
std::array<QString, kTableSize + 1> logTexts, msgTexts;  // [0] unused

enum Kind { kLabel = 1, kPushButton = 2, kToolButton = 4, kCheckBox = 8, kGroupBox = 16 };

struct Prefix {
    const char* name;
    int kinds;
};

struct Section {
    LanguageWindow window;
    const char* name;
    bool caption;  // "Name" gives the window's title
    int last;      // highest n read
    std::vector<Prefix> prefixes;
};

const std::vector<Section>& Sections() {
    static const std::vector<Section> sections{
        {LanguageWindow::Main,
         "Main",
         false,
         100,
         {{"Label", kLabel}, {"Button", kPushButton | kToolButton}}},
        {LanguageWindow::Add, "Add", true, 100, {{"Label", kLabel}, {"GroupBox", kGroupBox}}},
        {LanguageWindow::Options,
         "Options",
         true,
         100,
         {{"Label", kLabel},
          {"Button", kPushButton | kToolButton},
          {"CheckBox", kCheckBox},
          {"GroupBox", kGroupBox}}},
        {LanguageWindow::Update, "Update", true, 10, {{"Label", kLabel}, {"Button", kPushButton}}},
    };
    return sections;
}

int KindOf(QWidget* w) {
    if (qobject_cast<QLabel*>(w)) return kLabel;
    if (qobject_cast<QPushButton*>(w)) return kPushButton;
    if (qobject_cast<QToolButton*>(w)) return kToolButton;
    if (qobject_cast<QCheckBox*>(w)) return kCheckBox;
    if (qobject_cast<QGroupBox*>(w)) return kGroupBox;
    return 0;
}

QString CaptionOf(QWidget* w) {
    if (auto* label = qobject_cast<QLabel*>(w)) return label->text();
    if (auto* button = qobject_cast<QAbstractButton*>(w)) return button->text();
    if (auto* group = qobject_cast<QGroupBox*>(w)) return group->title();
    return {};
}

void SetCaption(QWidget* w, const QString& text) {
    if (auto* label = qobject_cast<QLabel*>(w)) label->setText(text);
    if (auto* button = qobject_cast<QAbstractButton*>(w)) button->setText(text);
    if (auto* group = qobject_cast<QGroupBox*>(w)) group->setTitle(text);
}

// An INI value is one line: line breaks travel in the file as "\n".
QString Read(const platform::PrivateProfile& file, const char* section, const QString& key,
             const QString& current) {
    const auto value = file.Value(section, key.toStdString());
    if (!value) return current;
    return QString::fromStdString(*value).replace(QStringLiteral("\\n"), QStringLiteral("\n"));
}

void Translate(const platform::PrivateProfile& file, const Section& section, QWidget* window) {
    if (section.caption)
        window->setWindowTitle(
            Read(file, section.name, QStringLiteral("Name"), window->windowTitle()));
    for (int n = 0; n <= section.last; ++n)
        for (const Prefix& prefix : section.prefixes) {
            const QString name = QString::fromLatin1(prefix.name) + QString::number(n);
            for (QWidget* control : window->findChildren<QWidget*>(name)) {
                // A child window (the main window's panel) has a section of its own.
                if (control->window() != window || !(KindOf(control) & prefix.kinds)) continue;
                SetCaption(control, Read(file, section.name, name, CaptionOf(control)));
                break;
            }
        }
}

}  // namespace

void SetLanguageWindow(LanguageWindow which, QWidget* window) {
    windows[static_cast<std::size_t>(which)] = window;
}

QString LogTexts(int n) {
    std::lock_guard lock(tablesMutex);
    return n >= 1 && n <= kTableSize ? logTexts[static_cast<std::size_t>(n)] : QString();
}

QString MsgTexts(int n) {
    std::lock_guard lock(tablesMutex);
    return n >= 1 && n <= kTableSize ? msgTexts[static_cast<std::size_t>(n)] : QString();
}

std::string LanguageFilePath(const std::string& name) {
    // The name comes from the settings file: it may only name a file in the
    // language folder, never reach out of it.
    if (name.empty() || name == "." || name == ".." ||
        name.find_first_of(std::string_view("/\0", 2)) != std::string::npos)
        return {};
    const QString folder = QString::fromStdString(DataFolder()) + QStringLiteral("Language/");
    const QString exact = QString::fromStdString(name) + QStringLiteral(".lng");
    if (!QFileInfo::exists(folder + exact)) {
        // Language names in settings files written elsewhere may differ in case.
        for (const QString& entry : QDir(folder).entryList(QDir::Files))
            if (entry.compare(exact, Qt::CaseInsensitive) == 0)
                return (folder + entry).toStdString();
    }
    return (folder + exact).toStdString();
}

void ApplyLanguage() {
    platform::PrivateProfile file(LanguageFilePath(Settings.Language));
    file.Load();
    for (const Section& section : Sections())
        if (QWidget* window = windows[static_cast<std::size_t>(section.window)])
            Translate(file, section, window);
    {
        std::lock_guard lock(tablesMutex);
        for (int n = 1; n <= kTableSize; ++n) {
            const auto i = static_cast<std::size_t>(n);
            logTexts[i] = Read(file, "Messages", QStringLiteral("Log%1").arg(n), logTexts[i]);
            msgTexts[i] = Read(file, "Messages", QStringLiteral("TextMsg%1").arg(n), msgTexts[i]);
        }
    }
    if (QWidget* main = windows[static_cast<std::size_t>(LanguageWindow::Main)])
        for (auto* record : main->findChildren<QAbstractButton*>(QStringLiteral("Button1")))
            if (record->window() == main) {
                record->setText(MsgTexts(1));
                break;
            }
}

}  // namespace velmora
