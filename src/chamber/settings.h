#pragma once
// What one chamber keeps in its settings file — how long its archive keeps samples, where it
// forwards to and as which station, its alerts and where they go — as one value: loaded, saved,
// given the command line's values, and compared, so that the audit trail says what changed.

#include <QList>
#include <QSettings>
#include <QString>
#include <memory>
#include <optional>

#include "alert/message.h"
#include "alert/rules.h"
#include "store/retention.h"

namespace chamber {

struct Given;

// A setting the command line changed: the option, the value kept before and the one given (an
// address without its password).
struct SettingChange {
    QString option;
    QString before;
    QString after;
    bool operator==(const SettingChange&) const = default;
};

struct Settings {
    // Retention; nullopt where the file names none (or a value a hand edit spoiled).
    std::optional<int> keepDays;       // days the archive keeps, today included
    std::optional<double> keepFreeGb;  // the free space the disk keeps, in GB
    std::optional<int> keepAuditDays;  // days the event log keeps its rows
    // Forwarding: the central server's address (empty: none) and the station's name (empty: not
    // yet named).
    QString forwardUrl;
    QString station;
    // Alerts: the rules and where notifications go.
    alert::RuleConfig rules;
    alert::NotifySettings notify;

    static Settings load(QSettings& file);
    // Writes the parts that differ from since (every part when null): retention, forwarding,
    // alerts. The file is then for this user's eyes only, as an address may hold a password.
    void save(QSettings& file, const Settings* since = nullptr) const;
    // These settings with each value the command line gives.
    Settings with(const Given& given) const;
    // How long the archive keeps its samples.
    store::RetentionPolicy retention() const;
};

// What differs from before to after, one entry per command-line option; with given, also each
// option it gives that changed nothing.
QList<SettingChange> difference(const Settings& before, const Settings& after,
                                const Given* given = nullptr);

// Gives a chamber's settings file the command line's values, once: each option given, with the
// value kept before and the one now kept.
QList<SettingChange> mergeGiven(QSettings& file, const Given& given);

// The settings file of a profile or a chamber in the platform's configuration folder, as both
// programs name it: velmars.ini for none, velmars-NAME.ini for NAME.
std::unique_ptr<QSettings> settingsFileFor(const QString& name);

}  // namespace chamber
