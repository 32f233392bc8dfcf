// Program entry: one copy per user and display, then the windows, created
// once and living until the main window closes.

#include <QApplication>
#include <QMessageBox>
#include <QSessionManager>

#include "common/Functions.h"
#include "common/Settings.h"
#include "net/About.h"
#include "net/UpdateUnit.h"
#include "platform/instance/SingleInstance.h"
#include "shell/CompressorDialog.h"
#include "shell/TerminationSignals.h"
#include "shell/Unit1.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setStyle(QStringLiteral("Fusion"));
    const std::string title = velmora::ApplicationTitle(app.applicationFilePath().toStdString());
    app.setApplicationName(QString::fromStdString(title));

    // Checked before anything is read or written, so a second copy leaves the
    // first one's files alone.
    if (!velmora::platform::AcquireSingleInstance(title)) {
        QMessageBox box(QMessageBox::NoIcon, QString::fromStdString(title),
                        QStringLiteral("Velmora already running!"), QMessageBox::Ok);
        box.exec();
        return 0;
    }
    velmora::ProcessPendingDeletions();
    velmora::InstallCompressorDialog();

    const velmora::TNetServers servers = velmora::VendorServers();
    velmora::TForm1 form1(servers);
    velmora::TAboutForm aboutForm(servers.site);
    velmora::TUpdateForm updateForm(form1.Http(), servers);
    updateForm.OnLanguageApplied = [&form1] { form1.LanguageApplied(); };
    // A logout, a shutdown or Ctrl+C ends a recording as F10 does.
    velmora::TerminationSignals termination;
    QObject::connect(&termination, &velmora::TerminationSignals::received, &form1,
                     [&form1](int number) { form1.QuitRequested(velmora::SignalName(number)); });
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &form1,
                     [&form1](QSessionManager&) { form1.FinishForLogout(); });
    form1.show();
    return app.exec();
}
