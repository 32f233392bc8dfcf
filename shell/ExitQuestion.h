#pragma once
// What Exit asks while a recording runs: what becomes of the recording. One
// question with three answers, and a second one before anything is deleted.

#include <QString>

class QWidget;

namespace velmora {

enum class ExitAnswer { SaveAndExit, KeepRecording, Discard };

// Asks modally over parent ("ExitQuestion"); target is the file the
// recording is saved as. Save and exit is the default, Esc keeps
// recording, and so does a question the program closes.
ExitAnswer AskExitDuringRecording(QWidget* parent, const QString& target);

// Asks before the recording is deleted ("DiscardQuestion"); true only for
// the user's yes, the default being no.
bool ConfirmDiscard(QWidget* parent);

// Closes either question while it is open: the recording it asks about has
// ended by itself.
void CloseExitQuestions(QWidget* parent);

}  // namespace velmora
