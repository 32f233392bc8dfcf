#pragma once
// Localisation: every visible text can come from Language/<name>.lng beside
// the program. A control takes part when its objectName is a known prefix and
// a number ("Label1", "Button3") and its kind is one accepted for that prefix
// on its window (not on a child window of it); every text defaults to what the control shows now,
// so a key missing from a language keeps the previous language's text. A value may hold "\n" for a
// line break.

#include <QString>
#include <string>

class QWidget;

namespace velmora {

// The windows with language sections: [Main], [Add], [Options], [Update].
enum class LanguageWindow { Main, Add, Options, Update };

// A window registers itself first thing in its constructor, so it is
// translated by every ApplyLanguage from then on; nullptr when it goes.
void SetLanguageWindow(LanguageWindow which, QWidget* window);

// Entry n (1..50) of the tables filled from [Messages] keys "Log" + n and
// "TextMsg" + n; empty before the first ApplyLanguage and outside 1..50.
// Safe to call from any thread.
QString LogTexts(int n);
QString MsgTexts(int n);

// Path of the language file for a name: Language/<name>.lng in the program
// folder, or a file there whose name differs only in letter case. Empty (no
// file) for a name that is not a bare file name: empty, ".", ".." or with a '/'.
std::string LanguageFilePath(const std::string& name);

// Re-reads the language file of Settings.Language and re-captions the
// registered windows, then sets the Record button's caption to MsgTexts(1).
// UI thread only.
void ApplyLanguage();

}  // namespace velmora
