#include <QDir>
#include <QStandardPaths>

#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include "base/datafolder.h"
#include "shell/shellos.h"

namespace shell::os {

void binaryStandardOutput() {}

void messagesToStandardError() {}

void placeSettings() {}

void restrictNewFiles() {
    // Any stricter mask the user set is kept.
    const mode_t before = ::umask(0);
    ::umask(before | S_IWGRP | S_IRWXO);
}

QString dataFolder() {
    if (const QString given = base::givenDataFolder(); !given.isEmpty()) return given;
    QString dir = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    if (dir.isEmpty()) dir = QDir::homePath() + QStringLiteral("/.velmars");
    return dir;
}

int endProcess(int code) {
    return code;
}

QString deviceFileName(const QString&) {
    return {};
}

bool echoInput(bool on) {
    termios mode{};
    if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &mode) != 0) return false;
    if (on)
        mode.c_lflag |= ECHO;
    else
        mode.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    return tcsetattr(STDIN_FILENO, TCSANOW, &mode) == 0;
}

}  // namespace shell::os
