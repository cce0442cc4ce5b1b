#include "shell/accesscommand.h"

#include <QDir>
#include <QSettings>
#include <QUrl>
#include <cstdio>
#include <optional>
#include <string>

#include "alert/rules.h"
#include "auth/roles.h"
#include "auth/userstore.h"
#include "base/tr.h"
#include "chamber/fleetstart.h"
#include "overview/chamberlist.h"
#include "shell/settings.h"
#include "shell/shellos.h"

namespace shell {

namespace {

int refuse(int status, const QString& line) {
    std::fprintf(stderr, "velmars: %s\n", qUtf8Printable(line));
    return status;
}

// The status of a refusal: what the user can mend by asking again is 1, what is wrong with the
// input or the file 2.
int statusOf(auth::Outcome o) {
    switch (o) {
        case auth::Outcome::TooShort:
        case auth::Outcome::Weak:
        case auth::Outcome::BadInput:
        case auth::Outcome::Unusable:
            return 2;
        default:
            return 1;
    }
}

int createAdmin(const Options& options) {
    const auto first = readPassword(base::Tr::tr("密码："));
    const auto second = first ? readPassword(base::Tr::tr("再次输入密码：")) : std::nullopt;
    if (!second) return refuse(2, base::Tr::tr("标准输入没有提供两次密码"));
    if (*first != *second) return refuse(2, base::Tr::tr("两次输入的密码不一致"));
    if (!auth::longEnough(*first)) return refuse(2, auth::outcomeText(auth::Outcome::TooShort));
    // Refused before a store file is made for it.
    if (auth::guessable(options.createAdmin, *first))
        return refuse(2, auth::outcomeText(auth::Outcome::Weak));
    auth::UserStore store(userStorePath(), QStringLiteral("users-command"));
    if (store.open(/*create=*/true) != auth::StoreState::Ready) return refuse(2, store.stateText());
    const auth::Outcome o = store.createFirstAdmin(options.createAdmin, options.fullName, *first);
    if (o == auth::Outcome::Exists)
        return refuse(1, base::Tr::tr("用户库已有账户，不能再创建第一个管理员"));
    if (o != auth::Outcome::Done) return refuse(statusOf(o), auth::outcomeText(o));
    std::printf(
        "%s\n",
        qUtf8Printable(base::Tr::tr("已创建管理员 %1，访问控制已开启").arg(options.createAdmin)));
    return 0;
}

int switchAccessControl(const Options& options) {
    auth::UserStore store(userStorePath(), QStringLiteral("users-command"));
    switch (store.open(/*create=*/false)) {
        case auth::StoreState::Unusable:
            return refuse(2, store.stateText());
        case auth::StoreState::Missing:
            return refuse(1, base::Tr::tr("用户库中没有账户，请先用 --create-admin 创建管理员"));
        case auth::StoreState::Ready:
            break;
    }
    const auto password = readPassword(base::Tr::tr("管理员 %1 的密码：").arg(options.user));
    if (!password) return refuse(2, base::Tr::tr("标准输入没有提供密码"));
    auth::Outcome o = store.authenticate(options.user, *password);
    // An expired password is changed in the program first.
    if (o == auth::Outcome::Done) o = store.setAccessControl(options.user, *options.accessControl);
    if (o != auth::Outcome::Done) return refuse(statusOf(o), auth::outcomeText(o));
    std::printf("%s\n", qUtf8Printable(*options.accessControl ? base::Tr::tr("访问控制已开启")
                                                              : base::Tr::tr("访问控制已关闭")));
    return 0;
}

}  // namespace

std::optional<QString> readPassword(const QString& prompt) {
    const bool terminal = os::echoInput(false);
    if (terminal) {
        std::fputs(qUtf8Printable(prompt), stderr);
        std::fflush(stderr);
    }
    std::string line;
    bool any = false;
    for (int c; (c = std::getchar()) != EOF;) {
        any = true;
        if (c == '\n') break;
        line.push_back(static_cast<char>(c));
    }
    if (terminal) {
        os::echoInput(true);
        std::fputc('\n', stderr);
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    QString password = QString::fromUtf8(line);
    line.assign(line.size(), '\0');
    if (!any) return std::nullopt;
    return password;
}

std::optional<SettingChange> chamberListChange(const Options& options, QSettings& mainFile) {
    return chamber::chamberListChange(options.chambers, mainFile);
}

std::optional<int> consentToSettings(const Options& options) {
    if (!changesSettings(options)) return std::nullopt;
    // A chamber list given as it is kept changes nothing.
    if (Options others = options; !others.chambers.isEmpty()) {
        others.chambers.clear();
        if (!changesSettings(others) && !chamberListChange(options, *settingsFileFor(QString())))
            return std::nullopt;
    }
    auth::UserStore store(userStorePath(), QStringLiteral("users-settings"));
    switch (store.open(/*create=*/false)) {
        case auth::StoreState::Missing:
            return std::nullopt;
        case auth::StoreState::Unusable:
            return refuse(2, store.stateText());
        case auth::StoreState::Ready:
            break;
    }
    if (!store.accessControl()) return std::nullopt;
    if (options.user.isEmpty() || options.reason.isEmpty())
        return refuse(2, base::Tr::tr("访问控制已开启：从命令行修改设置须给出管理员（--user）和原因"
                                      "（--reason），密码从标准输入读取"));
    const auto password = readPassword(base::Tr::tr("管理员 %1 的密码：").arg(options.user));
    if (!password) return refuse(2, base::Tr::tr("标准输入没有提供密码"));
    const auth::Outcome o = store.authenticate(options.user, *password);
    if (o != auth::Outcome::Done) return refuse(statusOf(o), auth::outcomeText(o));
    const auto account = store.account(options.user);
    auth::Standing who;
    who.controlled = true;
    who.role = account ? std::optional(account->role) : std::nullopt;
    for (auth::Action a :
         {auth::Action::Retention, auth::Action::Forwarding, auth::Action::AlertSettings})
        if (const auth::Denial d = auth::mayDo(who, a); d != auth::Denial::None)
            return refuse(1, auth::denialText(d, a));
    return std::nullopt;
}

QString userStorePath() {
    return QDir(os::dataFolder()).filePath(QString::fromLatin1(auth::kUserStoreFileName));
}

int runTokenCommand(const Options& options) {
    const std::unique_ptr<QSettings> kept = settingsFileFor(QString());
    if (!options.revokeToken.isEmpty()) {
        if (web::revokeToken(*kept, options.revokeToken)) return 0;
        std::fprintf(stderr, "velmars: no token named '%s'\n", qUtf8Printable(options.revokeToken));
        return 1;
    }
    const QString token = web::makeToken(*kept, options.makeToken);
    if (token.isEmpty() || kept->status() != QSettings::NoError) {
        std::fprintf(stderr, "velmars: the settings file cannot be written\n");
        return 1;
    }
    std::printf("%s\n", qUtf8Printable(token));
    return 0;
}

int runAccessCommand(const Options& options) {
    return options.accessControl ? switchAccessControl(options) : createAdmin(options);
}

}  // namespace shell
