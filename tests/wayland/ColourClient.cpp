// A Wayland window of one solid colour whose top-left 16x16 corner changes
// every 50 ms: xdg-desktop-portal-wlr sends a frame only when the screen
// changes, so the tests need something moving beside a colour they can find.
#include <QColor>
#include <QGuiApplication>
#include <QPainter>
#include <QRasterWindow>
#include <QTimer>

namespace {

class ColourWindow : public QRasterWindow {
public:
    explicit ColourWindow(QColor colour) : colour_(colour)
    {
        connect(&timer_, &QTimer::timeout, this, [this] {
            ++tick_;
            update(QRect(0, 0, kCorner, kCorner));
        });
        timer_.start(50);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.fillRect(QRect(QPoint(0, 0), size()), colour_);
        p.fillRect(QRect(0, 0, kCorner, kCorner), (tick_ & 1) ? Qt::white : Qt::black);
    }

private:
    static constexpr int kCorner = 16;
    QColor colour_;
    QTimer timer_;
    unsigned tick_ = 0;
};

}  // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    // The compositor's rules find the window by this app_id.
    QGuiApplication::setDesktopFileName(QStringLiteral("velmora-colour"));
    const QColor colour(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("#2080c0"));
    ColourWindow window(colour.isValid() ? colour : QColor(0x20, 0x80, 0xc0));
    window.setTitle(QStringLiteral("velmora colour"));
    window.resize(640, 360);
    window.show();
    return app.exec();
}
