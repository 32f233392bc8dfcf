// Program entry. Until the main window exists this shows an empty window
// with the program's caption so the build and run commands can be checked.

#include <QApplication>
#include <QMainWindow>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Velmora 1.0.4"));
    window.resize(287, 204);
    window.show();
    return app.exec();
}
