// One redraw of the area selector per mouse move: the frozen picture copied
// into the back buffer, the outline, the labels and the magnifier drawn, and
// the windows painted from it. On the display named by $DISPLAY (a
// 1920x1080x24 Xvfb for figures comparable with the grab benchmark).

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QMouseEvent>

#include "common/Settings.h"
#include "overlays/AreaSelector.h"
#include "overlays/SelectorWindow.h"
#include "platform/x11/Desktop.h"

using namespace velmora;

namespace {

void redraw(benchmark::State& state) {
    auto desktop = platform::openX11Desktop();
    if (!desktop) {
        state.SkipWithError("no X display");
        return;
    }
    AreaSelectorLinks links;
    links.QueryForeignCursor = [&] { return desktop->foreignCursor(); };
    AreaSelector selector(std::move(links));
    selector.ShowAreaSelector();
    QApplication::processEvents();
    if (selector.Windows().empty()) {
        state.SkipWithError("no selector window");
        return;
    }
    SelectorWindow* window = selector.Windows().front();
    const auto send = [&](QEvent::Type type, QPointF at) {
        QMouseEvent event(type, at, at, Qt::LeftButton,
                          type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton,
                          Qt::NoModifier);
        QCoreApplication::sendEvent(window, &event);
    };
    send(QEvent::MouseButtonPress, {100, 100});
    int step = 0;
    for (auto _ : state) {
        send(QEvent::MouseMove, QPointF(300 + step % 400, 200 + step % 300));
        for (SelectorWindow* shown : selector.Windows()) shown->repaint();
        ++step;
    }
    send(QEvent::MouseButtonRelease, {100, 100});
    state.SetLabel(std::to_string(selector.ScreenShot.width()) + "x" +
                   std::to_string(selector.ScreenShot.height()));
}

}  // namespace

BENCHMARK(redraw)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
