// Program entry: one copy per user and display, then the windows, created
// once and living until the main window closes.

#include <QApplication>
#include <QIcon>
#include <QMessageBox>
#include <QSessionManager>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "common/EventLog.h"
#include "common/Functions.h"
#include "common/ScreenSize.h"
#include "common/Settings.h"
#include "common/SettingsLocation.h"
#include "net/AboutDialog.h"
#include "net/UpdateDialog.h"
#include "platform/instance/SingleInstance.h"
#include "platform/x11/ScreenBackend.h"
#include "platform/x11/WindowList.h"
#include "shell/CommandLine.h"
#include "shell/CompressorDialog.h"
#include "shell/MainWindow.h"
#include "shell/OptionsDialog.h"
#include "shell/OutputSize.h"
#include "shell/SoundErrorReporter.h"
#include "shell/TerminationSignals.h"

int main(int argc, char* argv[]) {
    const std::vector<std::string> parameters(argv + 1, argv + argc);
    // Answered before the application object, which needs a display.
    if (const auto unknown = velmora::UnknownParameter(parameters)) {
        std::fprintf(stderr, "velmora: unknown option %s\n%s", unknown->c_str(), velmora::kUsage);
        return 2;
    }
    if (const auto invalid = velmora::InvalidParameter(parameters)) {
        std::fputs(invalid->c_str(), stderr);
        return 2;
    }
    if (const auto text = velmora::InformationRequest(parameters)) {
        std::fputs(text->c_str(), stdout);
        return 0;
    }
    // Commands for the running copy need no display either.
    std::error_code error;
    const std::string exe = std::filesystem::read_symlink("/proc/self/exe", error).string();
    const std::string runningTitle = velmora::ApplicationTitle(error ? std::string(argv[0]) : exe);
    if (const auto command = velmora::InstanceCommandRequest(parameters)) {
        std::string message;
        const int status = velmora::SendToRunningCopy(runningTitle, *command, message);
        std::fputs(message.c_str(), stderr);
        return status;
    }
    // "Record now" while a copy is open: that copy records. A copy that does
    // not take it leaves this one to say that it runs already.
    std::string message;
    const auto handed = velmora::HandRecordingToRunningCopy(runningTitle, parameters, message);
    std::fputs(message.c_str(), stderr);
    if (handed) return *handed;
    const std::string screen = velmora::ChooseScreen(parameters);
    // On Wayland the desktop's chooser picks the window: any name passes.
    const bool onX11 =
        velmora::platform::CurrentScreenBackend() == velmora::platform::ScreenBackend::X11;
    if (const auto missing = velmora::MissingWindow(
            parameters, [onX11](const std::string& idOrTitle, std::string& error) {
                return !onX11 || velmora::platform::findX11Window(idOrTitle, error).has_value();
            })) {
        std::fputs(missing->c_str(), stderr);
        return 2;
    }
    QApplication app(argc, argv);
    QApplication::setStyle(QStringLiteral("Fusion"));
    const std::string title = velmora::ApplicationTitle(app.applicationFilePath().toStdString());
    app.setApplicationName(QString::fromStdString(title));
    // Ties the windows to the installed menu entry and its icon.
    app.setDesktopFileName(QStringLiteral("org.velmora.velmora"));
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/velmora-%1.png").arg(size), QSize(size, size));
    app.setWindowIcon(icon);

    // Checked before anything is read or written, so a second copy leaves the
    // first one's files alone.
    velmora::platform::InstanceLock& lock = velmora::platform::ProgramInstanceLock();
    if (!lock.Acquire(title)) {
        // A lock of another user's in our folder is no copy of ours: say whose.
        const QString text = lock.holder().empty()
                                 ? QStringLiteral("Velmora already running!")
                                 : QStringLiteral("Velmora already running for another user: %1!")
                                       .arg(QString::fromStdString(lock.holder()));
        std::fprintf(stderr, "velmora: %s\n", text.toLocal8Bit().constData());
        QMessageBox box(QMessageBox::NoIcon, QString::fromStdString(title), text, QMessageBox::Ok);
        box.exec();
        return 0;
    }
    // Chosen once for the run, before anything is read or written.
    velmora::WriteLog(QString::fromStdString(
        velmora::DescribeSettingsLocation(velmora::CurrentSettingsLocation())));
    if (!lock.note().empty()) velmora::WriteLog(QString::fromStdString(lock.note()));
    if (!lock.trouble().empty())
        velmora::WriteLog(QString::fromStdString(
            "Running without the single-instance lock (" + lock.trouble() +
            "): another copy of this user is not noticed, and commands do not reach this one"));
    if (const std::string refusal = velmora::SettingsFileRefusal(velmora::SettingsFile());
        !refusal.empty())
        velmora::WriteLog(QString::fromStdString(refusal));
    velmora::WriteLog(QString::fromStdString(screen));
    velmora::KeepScreenCastTokenInSettings();
    velmora::FollowOutputSize();
    velmora::InstallCompressorDialog();

    // Before the windows: the engine's recorder exists from the main
    // window's creation on, and it lives until the windows are gone.
    velmora::SoundErrorReporter soundErrors;
    const velmora::TNetServers servers = velmora::VendorServers();
    // The main window first: the others read the settings its start-up loaded.
    velmora::MainWindow mainWindow(servers);
    mainWindow.ListenForCommands(lock);
    velmora::OptionsDialog optionsDialog(mainWindow);
    soundErrors.SetWindow(&mainWindow);
    // Owned by the main window: they close with it, and none of them keeps
    // the program running once it has closed.
    velmora::AboutDialog aboutDialog(servers.site, &mainWindow);
    velmora::UpdateDialog updateDialog(mainWindow.Http(), servers, &mainWindow);
    updateDialog.OnLanguageApplied = [&mainWindow] { mainWindow.LanguageApplied(); };
    // A logout, a shutdown or Ctrl+C ends a recording as F10 does.
    velmora::TerminationSignals termination;
    QObject::connect(
        &termination, &velmora::TerminationSignals::received, &mainWindow,
        [&mainWindow](int number) { mainWindow.QuitRequested(velmora::SignalName(number)); });
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &mainWindow,
                     [&mainWindow](QSessionManager&) { mainWindow.FinishForLogout(); });
    mainWindow.show();
    return app.exec();
}
