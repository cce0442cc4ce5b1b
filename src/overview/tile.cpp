#include "overview/tile.h"

#include <algorithm>

#include "base/text.h"
#include "base/tr.h"
#include "instrument/statetexts.h"

namespace overview {

Tile tileOf(const TileInput& in) {
    static const comm::InstrumentImage kEmpty{};
    const comm::InstrumentImage& img = in.image ? *in.image : kEmpty;
    const bool stale = comm::valuesStale(in.polling, in.silentMs);
    Tile t;
    const QString degrees = QStringLiteral("°C");
    const QString humidity = QStringLiteral("%RH");
    t.lines << in.name;
    // Values not read lately are not shown as readings: a closed or silent chamber shows a dash.
    const QString none = QStringLiteral("—");
    const auto value = [&](int k) { return stale ? none : base::floatText(img.LiveValues[k]); };
    // PV1, PV2, SV1, SV2 are live values 0..3.
    t.lines << QStringLiteral("PV1 %1 %2 / SV1 %3 %2").arg(value(0), degrees, value(2));
    t.lines << QStringLiteral("PV2 %1 %2 / SV2 %3 %2").arg(value(1), humidity, value(3));
    // The program state (3X 4097) and its segment (3X 4102).
    if (stale)
        t.lines << none;
    else
        t.lines
            << base::Tr::tr("%1 第 %2 段")
                   .arg(base::shown(instrument::programStateText(img.InputRegsHigh[0])).trimmed(),
                        base::intText(img.InputRegsHigh[5]));
    t.lines << (in.run.isEmpty() ? base::Tr::tr("无试验") : base::Tr::tr("试验：%1").arg(in.run));
    if (!in.polling)
        t.lines << base::Tr::tr("端口关闭");
    else if (in.deviceLost)
        t.lines << base::Tr::tr("设备已断开，等待重新连接");
    else if (stale)
        t.lines << base::Tr::tr("  仪表无应答 %1 秒").arg(in.silentMs / 1000).trimmed();
    else
        t.lines << base::Tr::tr("通讯正常");
    t.lines << in.recorder;

    // The alarm and sensor flags count only while they are fresh readings.
    bool alarm = false;
    if (!stale)
        for (int k = 2; k <= 5; ++k)
            alarm = alarm || img.DiscreteBits[k] != 0;
    t.tone = alarm                   ? Tone::Alarm
             : in.unacknowledged > 0 ? Tone::Unacked
             : stale                 ? Tone::Silent
                                     : Tone::Normal;
    return t;
}

QColor toneColour(Tone tone, bool flashPhase) {
    switch (tone) {
        case Tone::Alarm:
            return QColor(255, 120, 120);
        case Tone::Unacked:
            return flashPhase ? QColor(255, 200, 60) : QColor(255, 236, 190);
        case Tone::Silent:
            return QColor(190, 190, 190);
        case Tone::Normal:
            break;
    }
    return QColor(250, 250, 250);
}

bool listedBefore(const AlertPlace& a, const AlertPlace& b) {
    const auto rank = [](const AlertPlace& p) {
        return p.active ? (p.acknowledged ? 1 : 0) : (p.acknowledged ? 3 : 2);
    };
    if (rank(a) != rank(b)) return rank(a) < rank(b);
    return a.firedAt > b.firedAt;
}

int tileStep(int index, int count, int columns, int key) {
    if (count <= 0 || columns <= 0 || index < 0 || index >= count) return index;
    const int last = count - 1;
    switch (key) {
        case Qt::Key_Left:
            return std::max(index - 1, 0);
        case Qt::Key_Right:
            return std::min(index + 1, last);
        case Qt::Key_Up:
            return index >= columns ? index - columns : index;
        case Qt::Key_Down:
            // A last row shorter than this one still takes the step down, to its last tile.
            return index / columns < last / columns ? std::min(index + columns, last) : index;
        case Qt::Key_Home:
            return 0;
        case Qt::Key_End:
            return last;
        default:
            return index;
    }
}

}  // namespace overview
