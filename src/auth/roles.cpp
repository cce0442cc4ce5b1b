#include "auth/roles.h"

#include "base/tr.h"

namespace auth {

Role lowestRole(Action a) {
    switch (a) {
        case Action::Look:
            return Role::Viewer;
        case Action::SetValue:
        case Action::AlarmSettings:
        case Action::ProgramRunCommand:
        case Action::StartEndRun:
        case Action::AcknowledgeAlert:
            return Role::Operator;
        case Action::ConfigurationWrite:
        case Action::ProgramWrite:
        case Action::SignReport:
        case Action::SignAuditReview:
            return Role::Supervisor;
        case Action::Accounts:
        case Action::AccessControlSettings:
        case Action::Retention:
        case Action::Forwarding:
        case Action::AlertSettings:
            break;
    }
    return Role::Administrator;
}

namespace {

struct RoleName {
    Role role;
    const char* key;
    const char* text;
};

constexpr RoleName kRoles[] = {
    {Role::Viewer, "viewer", QT_TRANSLATE_NOOP("velmars", "查看员")},
    {Role::Operator, "operator", QT_TRANSLATE_NOOP("velmars", "操作员")},
    {Role::Supervisor, "supervisor", QT_TRANSLATE_NOOP("velmars", "主管")},
    {Role::Administrator, "administrator", QT_TRANSLATE_NOOP("velmars", "管理员")},
};

}  // namespace

QString roleKey(Role r) {
    return QString::fromLatin1(kRoles[static_cast<int>(r)].key);
}

std::optional<Role> roleFromKey(const QString& key) {
    for (const RoleName& n : kRoles)
        if (key == QLatin1String(n.key)) return n.role;
    return std::nullopt;
}

QString roleText(Role r) {
    return base::Tr::tr(kRoles[static_cast<int>(r)].text);
}

QString roleText(Role r, base::Lang lang) {
    return base::wording(kRoles[static_cast<int>(r)].text, lang);
}

Denial mayDo(const Standing& who, Action a) {
    if (!who.storeUsable) return a == Action::Look ? Denial::None : Denial::StoreUnusable;
    if (!who.controlled) return Denial::None;
    if (!who.role) return Denial::NotLoggedIn;
    if (who.locked) return Denial::SessionLocked;
    return *who.role >= lowestRole(a) ? Denial::None : Denial::RoleTooLow;
}

QString denialText(Denial d, Action a, base::Lang lang) {
    using base::wording;
    switch (d) {
        case Denial::None:
            return {};
        case Denial::StoreUnusable:
            return wording(QT_TRANSLATE_NOOP("velmars", "用户库无法使用，任何人都不能修改"), lang);
        case Denial::NotLoggedIn:
            return wording(QT_TRANSLATE_NOOP("velmars", "请先登录"), lang);
        case Denial::SessionLocked:
            return wording(QT_TRANSLATE_NOOP("velmars", "会话已锁定，请输入密码解锁"), lang);
        case Denial::RoleTooLow:
            break;
    }
    return wording(QT_TRANSLATE_NOOP("velmars", "需要%1权限"), lang)
        .arg(wording(kRoles[static_cast<int>(lowestRole(a))].text, lang));
}

}  // namespace auth
