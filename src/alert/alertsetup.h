#pragma once
// Alerts started from the settings file after the command line's --notify-* options are kept
// there.

#include <QSettings>
#include <QString>
#include <QStringList>
#include <optional>

#include "alert/alerter.h"

namespace alert {

// Where alerts go as the command line gives it (--notify-mail, --notify-from, --notify-to,
// --notify-webhook, --notify-silent-after); each one given replaces the settings file's.
struct NotifyOptions {
    std::optional<QString> mail;  // checked already: smtp://[user[:password]@]host[:port]
    std::optional<QString> from;
    std::optional<QStringList> to;
    std::optional<QString> webhook;
    std::optional<int> silentAfter;  // seconds
};

// The rules and notification settings of the settings file, after the command line's are kept.
void readAlertSettings(QSettings& file, const NotifyOptions& given, RuleConfig* rules,
                       NotifySettings* notify);

}  // namespace alert
