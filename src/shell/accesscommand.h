#pragma once
// The user store's commands, without a window: the first administrator (--create-admin USER
// --full-name NAME) and access control switched by an administrator (--access-control on|off
// --user ADMIN). Passwords are read from standard input, one line each, unseen on a terminal.

#include <QList>
#include <QString>
#include <optional>

#include "chamber/fleet.h"
#include "chamber/settings.h"
#include "service/cmdline.h"

class QSettings;

namespace shell {

// The user store of the PC: one file in the data folder for every chamber and profile.
QString userStorePath();

// One line of standard input without its end (none at the end of input); a terminal asks for it
// with the prompt and does not echo it.
std::optional<QString> readPassword(const QString& prompt);

// Runs the command the options ask for. Needs a QCoreApplication. Returns 0 done (one line on
// stdout), 1 refused (a wrong password, no administrator, accounts already there, a locked
// account), 2 bad input (no password, two entries that differ, one too short, an unusable store);
// the reason goes to stderr in one line.
int runAccessCommand(const Options& options);

// Settings given on the command line (retention, forwarding, alerts) while access control is on:
// an administrator's (--user, the password on standard input) with a reason (--reason). None when
// the program may go on (no such setting, access control off, or the administrator checked);
// else the status to leave with (as above), its line on stderr. Needs a QCoreApplication.
std::optional<int> consentToSettings(const Options& options);

using SettingChange = chamber::SettingChange;
// The change --chamber makes to the chamber list the program keeps (main settings file); none when
// it gives the list kept.
std::optional<SettingChange> chamberListChange(const Options& options, QSettings& mainFile);

// --make-token NAME: prints a new token for reading the web API from another computer, once (the
// settings file keeps only its hash); --revoke-token NAME withdraws it. 0, or 1 for no such token.
int runTokenCommand(const Options& options);

}  // namespace shell
