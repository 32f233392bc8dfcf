#pragma once
// Localisation: every visible text can come from Language/<name>.lng beside
// the program. Each window hands over a table of its section's keys and the
// controls they caption; the keys are the names the language files keep
// ("Label1", "Button3"), whatever the controls are called in the code. A key
// takes effect when it is a known prefix and a number and its control is of
// a kind accepted for that prefix. "Hint" keys give a control's tooltip;
// a list's keys ("Priority1", ...) give its items, counted from 1. Every text defaults to what the
// control shows now, so a key missing from a language keeps the previous language's text. A value
// may hold "\n" for a line break.

#include <QLocale>
#include <QString>
#include <string>
#include <vector>

class QWidget;

namespace velmora {

// The windows with language sections: [Main], [Add], [Options], [Update],
// [About].
enum class LanguageWindow { Main, Add, Options, Update, About };

// One key of a window's section and the control whose caption it holds.
struct LanguageKey {
    const char* key;
    QWidget* control;
};

// A window registers itself with its keys once its controls exist, so it is
// translated by every ApplyLanguage from then on; nullptr when it goes.
void SetLanguageWindow(LanguageWindow which, QWidget* window, std::vector<LanguageKey> keys = {});

// Entry n (1..110) of the tables filled from [Messages] keys "Log" + n and
// "TextMsg" + n; empty before the first ApplyLanguage and outside 1..110.
// Safe to call from any thread.
QString LogTexts(int n);
QString MsgTexts(int n);
// MsgTexts(n), or the English text where the language file lacks it.
QString MsgTextOr(int n, const char* english);
// LogTexts(n), or the English text where the language file lacks it.
QString LogTextOr(int n, const char* english);

// Path of the language file for a name: Language/<name>.lng in the program
// folder, or a file there whose name differs only in letter case. Empty (no
// file) for a name that is not a bare file name: empty, ".", ".." or with a '/'.
std::string LanguageFilePath(const std::string& name);

// The language file of locale's language ("German" for de_DE) where the
// language folder has one, else "English": a first start's language.
std::string LanguageForLocale(const QLocale& locale);

// What the language file of name calls its language in its own words
// ("Deutsch"), or name where it does not say.
QString LanguageTitle(const std::string& name);

// The locale the language file names (its Locale key; English where it
// names none), for the numbers in its texts. UI thread only.
QLocale LanguageLocale();

// Re-reads the language file of Settings.Language and re-captions the
// registered windows, then sets the Record button's caption to MsgTexts(1).
// UI thread only.
void ApplyLanguage();

}  // namespace velmora
