#pragma once
// Alerts started from the settings file after the command line's --notify-* options are kept
// there, and the alert bar put into the main window above its status bar.

#include <memory>

#include "alert/alerter.h"
#include "shell/cmdline.h"

class QMainWindow;

namespace shell {

// The rules and notification settings of the settings file, after the command line's are kept.
void readAlertSettings(const Options& options, alert::RuleConfig* rules,
                       alert::NotifySettings* notify);

// The alert bar at the bottom of the window, above the status bar; "确定" in "报警通知" keeps the
// settings in the settings file.
void addAlertBar(QMainWindow& window, alert::Alerter& alerter);

}  // namespace shell
