#include "auth/guard.h"

#include <QEvent>
#include <QWidget>

#include "auth/actor.h"

namespace auth {

namespace {
Guard* theGuard = nullptr;
}

Guard::Guard(QObject* parent) : QObject(parent) {
    theGuard = this;
}

Guard::~Guard() {
    if (theGuard == this) theGuard = nullptr;
}

Guard* Guard::instance() {
    return theGuard;
}

void guard(QWidget* control, Action action) {
    if (theGuard && control) theGuard->add(control, action);
}

void Guard::add(QWidget* control, Action action) {
    entries_.removeIf([](const Entry& e) { return !e.control; });
    Entry e;
    e.control = control;
    e.action = action;
    entries_.append(e);
    control->installEventFilter(this);
    apply(entries_.last());
}

bool Guard::allows(Action action) const {
    // The same decision the commands make for whoever is at the PC.
    return denial(Actor::atThePc(userId_, standing_), action) == Denial::None;
}

void Guard::setUser(const QString& userId, const QStringList& reasons,
                    const QHash<QString, QString>& fullNames) {
    userId_ = userId;
    reasons_ = reasons;
    fullNames_ = fullNames;
}

void Guard::setStanding(const Standing& standing) {
    standing_ = standing;
    entries_.removeIf([](const Entry& e) { return !e.control; });
    for (Entry& e : entries_)
        apply(e);
}

void Guard::apply(Entry& e) {
    QWidget* w = e.control;
    if (!w) return;
    const Denial d = active() ? denial(Actor::atThePc(userId_, standing_), e.action) : Denial::None;
    setting_ = true;
    if (d != Denial::None) {
        if (!e.held) {
            e.held = true;
            e.tooltip = w->toolTip();
            hold(w);
        }
        w->setToolTip(denialText(d, e.action));
    } else if (e.held) {
        e.held = false;
        // The window's last wish shows in its own mark: set by its setEnabled(false), even
        // on a control already disabled, and cleared by its setEnabled(true).
        w->setEnabled(!w->testAttribute(Qt::WA_ForceDisabled));
        w->setToolTip(e.tooltip);
    }
    setting_ = false;
}

void Guard::hold(QWidget* w) {
    // Disabled without the window's mark (unless the window had set it), so that what the window
    // asks for meanwhile can be told when the guard lets go.
    const bool wanted = !w->testAttribute(Qt::WA_ForceDisabled);
    w->setEnabled(false);
    if (wanted) w->setAttribute(Qt::WA_ForceDisabled, false);
}

bool Guard::eventFilter(QObject* watched, QEvent* ev) {
    // A window that enables a held control (its own state changed) is remembered, not obeyed.
    if (ev->type() == QEvent::EnabledChange && !setting_) {
        for (Entry& e : entries_) {
            if (e.control != watched || !e.held || !e.control->isEnabled()) continue;
            setting_ = true;
            hold(e.control);
            setting_ = false;
        }
    }
    return QObject::eventFilter(watched, ev);
}

}  // namespace auth
