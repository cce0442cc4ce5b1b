#include "web/metrics.h"

#include <cmath>
#include <functional>

namespace web {

QByteArray escapeLabel(const QString& value) {
    QByteArray out;
    for (char c : value.toUtf8()) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '"')
            out += "\\\"";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

namespace {

QByteArray number(double v) {
    if (std::isnan(v)) return "NaN";
    if (std::isinf(v)) return v > 0 ? "+Inf" : "-Inf";
    return QByteArray::number(v, 'g', 15);
}

class Writer {
  public:
    // Each family once: its help and type line, then one line per sample.
    void family(const char* name, const char* type, const char* help,
                const std::function<void()>& samples) {
        name_ = name;
        out_ += QByteArray("# HELP ") + name + ' ' + help + '\n';
        out_ += QByteArray("# TYPE ") + name + ' ' + type + '\n';
        samples();
    }
    void sample(const QList<std::pair<const char*, QString>>& labels, double v) {
        out_ += name_;
        if (!labels.isEmpty()) {
            out_ += '{';
            bool first = true;
            for (const auto& [k, value] : labels) {
                if (!first) out_ += ',';
                first = false;
                out_ += QByteArray(k) + "=\"" + escapeLabel(value) + '"';
            }
            out_ += '}';
        }
        out_ += ' ' + number(v) + '\n';
    }
    QByteArray text() const { return out_; }

  private:
    QByteArray name_;
    QByteArray out_;
};

}  // namespace

QByteArray metricsText(const QList<Gauges>& chambers, const QString& version) {
    Writer w;
    using L = QList<std::pair<const char*, QString>>;
    const auto each = [&](const std::function<void(const Gauges&)>& f) {
        return [&chambers, f] {
            for (const Gauges& g : chambers)
                f(g);
        };
    };
    w.family("velmars_build_info", "gauge", "The program's version.", [&] {
        w.sample({{"version", version}}, 1);
    });
    w.family("velmars_chambers", "gauge", "Chambers served.",
             [&] { w.sample({}, static_cast<double>(chambers.size())); });
    w.family("velmars_temperature_celsius", "gauge",
             "Temperature loop: measured (pv) and working set (sv) value.",
             each([&](const Gauges& g) {
                 if (g.stale) return;  // values not confirmed are no readings
                 w.sample(L{{"chamber", g.chamber},
                            {"loop", QStringLiteral("1")},
                            {"kind", QStringLiteral("pv")}},
                          g.pv[0]);
                 w.sample(L{{"chamber", g.chamber},
                            {"loop", QStringLiteral("1")},
                            {"kind", QStringLiteral("sv")}},
                          g.sv[0]);
             }));
    w.family("velmars_relative_humidity_percent", "gauge",
             "Humidity loop: measured (pv) and working set (sv) value.", each([&](const Gauges& g) {
                 if (g.stale) return;
                 w.sample(L{{"chamber", g.chamber},
                            {"loop", QStringLiteral("2")},
                            {"kind", QStringLiteral("pv")}},
                          g.pv[1]);
                 w.sample(L{{"chamber", g.chamber},
                            {"loop", QStringLiteral("2")},
                            {"kind", QStringLiteral("sv")}},
                          g.sv[1]);
             }));
    w.family("velmars_retransmission_ratio", "gauge", "Retransmission output of each loop, 0 to 1.",
             each([&](const Gauges& g) {
                 if (g.stale) return;
                 for (int i = 0; i < 2; ++i)
                     w.sample(L{{"chamber", g.chamber}, {"loop", QString::number(i + 1)}},
                              g.retransmitPct[i] / 100.0);
             }));
    w.family("velmars_output_on", "gauge", "Control output of each loop (1 on).",
             each([&](const Gauges& g) {
                 if (g.stale) return;
                 for (int i = 0; i < 2; ++i)
                     w.sample(L{{"chamber", g.chamber}, {"loop", QString::number(i + 1)}},
                              g.outputOn[i]);
             }));
    w.family("velmars_sensor_broken", "gauge", "Sensor of each loop reported broken (1).",
             each([&](const Gauges& g) {
                 if (g.stale) return;
                 for (int i = 0; i < 2; ++i)
                     w.sample(L{{"chamber", g.chamber}, {"loop", QString::number(i + 1)}},
                              g.sensorBroken[i]);
             }));
    w.family(
        "velmars_alarm_active", "gauge", "Instrument alarms 1 and 2 (1 active).",
        each([&](const Gauges& g) {
            if (g.stale) return;
            for (int i = 0; i < 2; ++i)
                w.sample(L{{"chamber", g.chamber}, {"alarm", QString::number(i + 1)}}, g.alarm[i]);
        }));
    w.family("velmars_instrument_up", "gauge",
             "Whether the instrument's values are current (1) or stale (0).",
             each([&](const Gauges& g) {
                 w.sample(L{{"chamber", g.chamber}}, g.stale ? 0 : 1);
             }));
    w.family("velmars_link_state", "gauge",
             "State of the link to the instrument (1 for the current one).",
             each([&](const Gauges& g) {
                 for (const char* s : kLinkStates)
                     w.sample(L{{"chamber", g.chamber}, {"state", QLatin1String(s)}},
                              g.link == QLatin1String(s) ? 1 : 0);
             }));
    w.family("velmars_link_silent_seconds", "gauge",
             "Time since the instrument last answered a register block.",
             each([&](const Gauges& g) {
                 w.sample(L{{"chamber", g.chamber}}, g.silentSeconds);
             }));
    w.family("velmars_recorder_state", "gauge", "State of the recorder (1 for the current one).",
             each([&](const Gauges& g) {
                 for (const char* s : kRecorderStates)
                     w.sample(L{{"chamber", g.chamber}, {"state", QLatin1String(s)}},
                              g.recorder == QLatin1String(s) ? 1 : 0);
             }));
    w.family("velmars_samples_recorded_total", "counter",
             "Samples stored since the program started.", each([&](const Gauges& g) {
                 w.sample(L{{"chamber", g.chamber}}, g.samplesRecorded);
             }));
    w.family("velmars_last_sample_timestamp_seconds", "gauge",
             "When the latest sample was stored (UNIX time).", each([&](const Gauges& g) {
                 if (g.lastSampleSeconds) w.sample(L{{"chamber", g.chamber}}, *g.lastSampleSeconds);
             }));
    w.family("velmars_alerts_open", "gauge", "Alerts not yet acknowledged or still active.",
             each([&](const Gauges& g) {
                 w.sample(L{{"chamber", g.chamber}}, g.alertsOpen);
             }));
    w.family("velmars_run_open", "gauge", "Whether a test run is open (1).",
             each([&](const Gauges& g) {
                 w.sample(L{{"chamber", g.chamber}}, g.runOpen);
             }));
    return w.text();
}

}  // namespace web
