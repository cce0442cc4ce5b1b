#include "overview/tile.h"

#include <algorithm>

#include "base/text.h"
#include "base/tr.h"
#include "instrument/statetexts.h"

namespace overview {

Tile tileOf(const QString& name, const chamber::State& s, bool opened) {
    const bool stale = s.stale;
    Tile t;
    t.lines << name;
    // Values not read lately are not shown as readings: a closed or silent chamber shows a dash.
    const QString none = QStringLiteral("—");
    const auto value = [&](double v) { return stale ? none : base::floatText(float(v)); };
    for (int k = 0; k < 2; ++k) {
        const chamber::LoopState& loop = s.loops[size_t(k)];
        t.lines << QStringLiteral("PV%1 %2 %3 / SV%1 %4 %3")
                       .arg(QString::number(k + 1), value(loop.pv), loop.unit, value(loop.sv));
    }
    if (stale)
        t.lines << none;
    else
        t.lines << base::Tr::tr("%1 第 %2 段")
                       .arg(base::shown(instrument::programStateText(s.program.code)).trimmed(),
                            base::intText(s.program.segment));
    t.lines << (s.run ? base::Tr::tr("试验：%1").arg(s.run->name) : base::Tr::tr("无试验"));
    if (s.link.state == chamber::LinkState::Closed)
        t.lines << base::Tr::tr("端口关闭");
    else if (s.link.state == chamber::LinkState::DeviceLost)
        t.lines << base::Tr::tr("设备已断开，等待重新连接");
    else if (s.link.state == chamber::LinkState::Silent)
        t.lines << base::Tr::tr("  仪表无应答 %1 秒").arg(s.link.silentMs / 1000).trimmed();
    else
        t.lines << base::Tr::tr("通讯正常");
    const QString recorder = opened ? store::recorderStatusText(s.recorder, base::Lang::Shown)
                                    : base::Tr::tr("等待数据库释放");
    // The refusal names the file's whole path and the other process: too long for a tile.
    const bool refused = opened && s.recorder.state == store::RecorderStatus::State::Refused;
    t.lines << (refused ? base::Tr::tr("未记录：另一个程序正在记录") : recorder);
    t.details = (t.lines.mid(1, t.lines.size() - 2) << recorder).join(u'\n');

    // The alarm and sensor flags count only while they are fresh readings.
    bool alarm = false;
    if (!stale)
        for (int k = 0; k < 2; ++k)
            alarm = alarm || s.alarms[size_t(k)].on || s.loops[size_t(k)].sensorBroken;
    const bool unacked = std::any_of(s.alerts.begin(), s.alerts.end(),
                                     [](const chamber::AlertInfo& a) { return !a.acknowledged; });
    t.tone = alarm ? Tone::Alarm : unacked ? Tone::Unacked : stale ? Tone::Silent : Tone::Normal;
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
