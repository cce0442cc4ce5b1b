// The UI thread's work when the overview shows 16 chambers and each tile takes new values, as it
// does every 500 ms: the tiles given their text, then the window repainted, without any line or
// database, so that the count is the same on a loaded machine (run it under
// `valgrind --tool=callgrind --toggle-collect='*rounds*'` for instructions).
// Run by hand: build/bin/bench_tiles [--rounds N] (default 400).

#include <QApplication>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "overview/overviewwindow.h"
#include "simrig.h"

namespace {

// One refresh: every tile's PV lines change, and its recorder's count every other round.
overview::Tile tileAt(int index, int round) {
    const double pv1 = 20 + (index * 7 + round) % 100 / 10.0, pv2 = 50 + (index + round) % 90 / 9.0;
    return {{QStringLiteral("C%1").arg(index + 1),
             QStringLiteral("PV1 %1 °C / SV1 %2 °C").arg(pv1).arg(25 + index),
             QStringLiteral("PV2 %1 %RH / SV2 %2 %RH").arg(pv2).arg(60 + index),
             QStringLiteral("运行 第 3 段"), QStringLiteral("无试验"), QStringLiteral("通讯正常"),
             QStringLiteral("记录中：第 %1 条").arg(1000 + round / 2)},
            overview::Tone::Normal};
}

struct Cost {
    std::vector<double> displayMs, paintMs;
};

Q_NEVER_INLINE void rounds(overview::OverviewWindow& window, int n, Cost& cost) {
    const auto tiles = window.tiles();
    for (int r = 0; r < n; ++r) {
        const double start = bench::threadCpuMs();
        for (int i = 0; i < tiles.size(); ++i)
            tiles[i]->display(tileAt(i, r), false);
        const double shown = bench::threadCpuMs();
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
        cost.displayMs.push_back(shown - start);
        cost.paintMs.push_back(bench::threadCpuMs() - shown);
    }
}

void print(const char* what, std::vector<double> ms) {
    std::sort(ms.begin(), ms.end());
    std::printf("%s: median %.2f ms, p99 %.2f ms, most %.2f ms\n", what, ms[ms.size() / 2],
                ms[ms.size() * 99 / 100], ms.back());
}

}  // namespace

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    int n = 400;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--rounds") == 0) n = std::max(10, std::atoi(argv[i + 1]));
    QList<overview::OverviewWindow::Entry> entries;
    for (int a = 1; a <= 16; ++a)
        entries << overview::OverviewWindow::Entry{{QStringLiteral("C%1").arg(a), 1, a}, nullptr};
    overview::OverviewWindow window;
    window.setChambers(entries);
    // Only this benchmark gives the tiles their text.
    window.findChild<QTimer*>(QStringLiteral("OverviewTimer"))->stop();
    window.resize(1280, 800);
    window.show();
    Cost warm, cost;
    rounds(window, 4, warm);
    rounds(window, n, cost);
    std::printf("16 tiles, %d rounds of new values (CPU time of the UI thread per round)\n", n);
    print("  tiles given their text", cost.displayMs);
    print("  window repainted", cost.paintMs);
    return 0;
}
