#include "access/guard.h"

#include <QEvent>
#include <QWidget>

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
    entries_.append({control, action, false, true, {}});
    control->installEventFilter(this);
    apply(entries_.last());
}

bool Guard::allows(Action action) const {
    return mayDo(standing_, action) == Denial::None;
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
    const Denial d = active() ? mayDo(standing_, e.action) : Denial::None;
    setting_ = true;
    if (d != Denial::None) {
        if (!e.held) {
            e.held = true;
            e.wanted = !w->testAttribute(Qt::WA_ForceDisabled);
            e.tooltip = w->toolTip();
        }
        w->setEnabled(false);
        w->setToolTip(denialText(d, e.action));
    } else if (e.held) {
        e.held = false;
        w->setEnabled(e.wanted);
        w->setToolTip(e.tooltip);
    }
    setting_ = false;
}

bool Guard::eventFilter(QObject* watched, QEvent* ev) {
    // A window that enables a held control (its own state changed) is remembered, not obeyed.
    if (ev->type() == QEvent::EnabledChange && !setting_) {
        for (Entry& e : entries_) {
            if (e.control != watched || !e.held) continue;
            e.wanted = !e.control->testAttribute(Qt::WA_ForceDisabled);
            if (e.wanted) {
                setting_ = true;
                e.control->setEnabled(false);
                setting_ = false;
            }
        }
    }
    return QObject::eventFilter(watched, ev);
}

}  // namespace auth
