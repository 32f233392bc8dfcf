#pragma once
// The update check and its dialog. Two seconds after start the main window
// asks the site for the latest version's number; when it is newer than ours,
// the dialog shows both and links to the download page in the user's
// language. Everything here runs on the UI thread.

#include <QString>
#include <QWidget>
#include <functional>

#include "net/VendorServers.h"

class QLabel;
class QPushButton;

namespace velmora {

class HttpClient;
class TWebLinkLabel;

class UpdateDialog : public QWidget {
    Q_OBJECT

  public:
    // http: the main window's client, which outlives the dialog.
    UpdateDialog(HttpClient& http, TNetServers servers, QWidget* parent = nullptr);
    ~UpdateDialog() override;

    // Fetches /update_velmora.txt from the site. A body that is a dotted
    // version number (white space around it aside) becomes LatestVersion, and
    // the dialog opens when it is newer than ours. A failure, or a body that
    // is no version number, is logged as Log5, " - " and the reason, and
    // changes nothing.
    void CheckForUpdate();

    // The version the site gave; empty until a fetch gives one.
    QString LatestVersion;

    // Runs after the dialog's ApplyLanguage, which re-captions every window:
    // the main window puts back what a running recording shows.
    std::function<void()> OnLanguageApplied;

    // ---- handlers
    // Each time the dialog becomes the active window: the labels from the
    // language file plus the versions, the link for the language, a log line.
    void Activated();
    // The download link was clicked (the page has opened already).
    void DownloadClicked();
    void CloseClicked();

    QLabel* ourVersionLabel = nullptr;
    QLabel* latestVersionLabel = nullptr;
    TWebLinkLabel* downloadLink = nullptr;
    QPushButton* closeButton = nullptr;
    QLabel* programIcon = nullptr;

  protected:
    bool event(QEvent* event) override;

  private:
    // The labels, the link and the size for the current language and
    // LatestVersion.
    void BuildTexts();

    HttpClient& http_;
    const TNetServers servers_;
};

// The program's update dialog while it exists (set by its constructor).
extern UpdateDialog* TheUpdateDialog;

}  // namespace velmora
