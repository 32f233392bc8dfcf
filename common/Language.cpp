#include "common/Language.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLibraryInfo>
#include <QPushButton>
#include <QToolButton>
#include <QTranslator>
#include <QWidget>
#include <array>
#include <cstring>
#include <mutex>

#include "common/ProgramFolder.h"
#include "common/Settings.h"
#include "platform/profile/Profile.h"

namespace velmora {
namespace {

// Room for the numbers the files use, with some to spare.
constexpr int kTableSize = 200;

struct Registered {
    QWidget* window = nullptr;
    std::vector<LanguageKey> keys;
};
std::array<Registered, 5> windows{};
std::mutex tablesMutex;
std::array<QString, kTableSize + 1> logTexts, msgTexts;  // [0] unused
QString languageLocale;  // the language file's Locale key; UI thread only

enum Kind {
    kLabel = 1,
    kPushButton = 2,
    kToolButton = 4,
    kCheckBox = 8,
    kGroupBox = 16,
    kComboBox = 32,
    kOther = 64
};
constexpr int kAnyKind = 127;

// What a key sets: the control's caption, its tooltip, or one item of a list
// (the key's number counts the items from 1).
enum class Role { Caption, Hint, Item };

struct Prefix {
    const char* name;
    int kinds;
    Role role = Role::Caption;
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
         {{"Label", kLabel},
          {"Button", kPushButton | kToolButton},
          {"Hint", kAnyKind, Role::Hint}}},
        {LanguageWindow::Add,
         "Add",
         true,
         100,
         {{"Label", kLabel}, {"GroupBox", kGroupBox}, {"Hint", kAnyKind, Role::Hint}}},
        {LanguageWindow::Options,
         "Options",
         true,
         100,
         {{"Label", kLabel},
          {"Button", kPushButton | kToolButton},
          {"CheckBox", kCheckBox},
          {"GroupBox", kGroupBox},
          {"Priority", kComboBox, Role::Item},
          {"Preset", kComboBox, Role::Item},
          {"Hint", kAnyKind, Role::Hint}}},
        {LanguageWindow::Update, "Update", true, 10, {{"Label", kLabel}, {"Button", kPushButton}}},
        {LanguageWindow::About, "About", true, 10, {{"Label", kLabel}}},
    };
    return sections;
}

int KindOf(QWidget* w) {
    if (qobject_cast<QLabel*>(w)) return kLabel;
    if (qobject_cast<QPushButton*>(w)) return kPushButton;
    if (qobject_cast<QToolButton*>(w)) return kToolButton;
    if (qobject_cast<QCheckBox*>(w)) return kCheckBox;
    if (qobject_cast<QGroupBox*>(w)) return kGroupBox;
    if (qobject_cast<QComboBox*>(w)) return kComboBox;
    return w ? kOther : 0;
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

// The prefix of the section that takes this key for a control of this kind,
// with the key's number (in the section's range), or nullptr.
const Prefix* Accepts(const Section& section, const QString& key, QWidget* control, int& n) {
    for (const Prefix& prefix : section.prefixes) {
        const QString name = QString::fromLatin1(prefix.name);
        if (!key.startsWith(name)) continue;
        const QString number = key.mid(name.size());
        bool isNumber = false;
        n = number.toInt(&isNumber);
        const bool taken = isNumber && n >= 0 && n <= section.last &&
                           number == QString::number(n) && (KindOf(control) & prefix.kinds) != 0;
        return taken ? &prefix : nullptr;
    }
    return nullptr;
}

void SetText(const platform::PrivateProfile& file, const Section& section, const QString& key,
             const Prefix& prefix, int n, QWidget* control) {
    switch (prefix.role) {
        case Role::Caption:
            SetCaption(control, Read(file, section.name, key, CaptionOf(control)));
            break;
        case Role::Hint:
            control->setToolTip(Read(file, section.name, key, control->toolTip()));
            break;
        case Role::Item:
            if (auto* list = qobject_cast<QComboBox*>(control);
                list && n >= 1 && n <= list->count())
                list->setItemText(n - 1, Read(file, section.name, key, list->itemText(n - 1)));
            break;
    }
}

void Translate(const platform::PrivateProfile& file, const Section& section,
               const Registered& registered) {
    QWidget* window = registered.window;
    if (section.caption)
        window->setWindowTitle(
            Read(file, section.name, QStringLiteral("Name"), window->windowTitle()));
    for (const LanguageKey& entry : registered.keys) {
        const QString key = QString::fromLatin1(entry.key);
        int n = 0;
        if (!entry.control) continue;
        if (const Prefix* prefix = Accepts(section, key, entry.control, n))
            SetText(file, section, key, *prefix, n, entry.control);
    }
}

// The control registered for a key of a window's section, or nullptr.
QWidget* ControlOf(LanguageWindow which, const char* key) {
    for (const LanguageKey& entry : windows[static_cast<std::size_t>(which)].keys)
        if (std::strcmp(entry.key, key) == 0) return entry.control;
    return nullptr;
}

}  // namespace

void SetLanguageWindow(LanguageWindow which, QWidget* window, std::vector<LanguageKey> keys) {
    auto& registered = windows[static_cast<std::size_t>(which)];
    registered.window = window;
    registered.keys = window ? std::move(keys) : std::vector<LanguageKey>{};
}

QString LogTexts(int n) {
    std::lock_guard lock(tablesMutex);
    return n >= 1 && n <= kTableSize ? logTexts[static_cast<std::size_t>(n)] : QString();
}

QString MsgTexts(int n) {
    std::lock_guard lock(tablesMutex);
    return n >= 1 && n <= kTableSize ? msgTexts[static_cast<std::size_t>(n)] : QString();
}

QString MsgTextOr(int n, const char* english) {
    const QString text = MsgTexts(n);
    return text.isEmpty() ? QString::fromUtf8(english) : text;
}

QString LogTextOr(int n, const char* english) {
    const QString text = LogTexts(n);
    return text.isEmpty() ? QString::fromUtf8(english) : text;
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

std::string LanguageForLocale(const QLocale& locale) {
    const std::string name = QLocale::languageToString(locale.language()).toStdString();
    const std::string path = LanguageFilePath(name);
    return !path.empty() && QFileInfo::exists(QString::fromStdString(path)) ? name : "English";
}

QString LanguageTitle(const std::string& name) {
    platform::PrivateProfile file(LanguageFilePath(name));
    file.Load();
    const auto title = file.Value("Language", "Name");
    return title && !title->empty() ? QString::fromStdString(*title) : QString::fromStdString(name);
}

namespace {

// Qt's own words (a question's Yes and No, a file dialog's) in the
// language's locale, from Qt's translations where they are installed.
void TranslateQtsOwnTexts(const QString& locale) {
    static QTranslator* installed = nullptr;
    if (installed) {
        QCoreApplication::removeTranslator(installed);
        delete installed;
        installed = nullptr;
    }
    if (locale.isEmpty() || locale.startsWith(QLatin1String("en"))) return;
    auto* translator = new QTranslator;
    if (translator->load(QStringLiteral("qtbase_") + locale,
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath)) &&
        QCoreApplication::installTranslator(translator))
        installed = translator;
    else
        delete translator;
}

}  // namespace

QLocale LanguageLocale() {
    return QLocale(languageLocale.isEmpty() ? QStringLiteral("en") : languageLocale);
}

void ApplyLanguage() {
    platform::PrivateProfile file(LanguageFilePath(Settings.Language));
    file.Load();
    languageLocale = Read(file, "Language", QStringLiteral("Locale"), QString());
    TranslateQtsOwnTexts(languageLocale);
    for (const Section& section : Sections())
        if (const Registered& registered = windows[static_cast<std::size_t>(section.window)];
            registered.window)
            Translate(file, section, registered);
    {
        std::lock_guard lock(tablesMutex);
        for (int n = 1; n <= kTableSize; ++n) {
            const auto i = static_cast<std::size_t>(n);
            logTexts[i] = Read(file, "Messages", QStringLiteral("Log%1").arg(n), logTexts[i]);
            msgTexts[i] = Read(file, "Messages", QStringLiteral("TextMsg%1").arg(n), msgTexts[i]);
        }
    }
    // The main window's Record button.
    if (auto* record = qobject_cast<QAbstractButton*>(ControlOf(LanguageWindow::Main, "Button1")))
        record->setText(MsgTexts(1));
}

}  // namespace velmora
