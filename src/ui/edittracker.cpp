#include "ui/edittracker.h"

#include <QComboBox>
#include <QFocusEvent>
#include <QLineEdit>

namespace ui {

EditTracker::EditTracker(QObject* parent) : QObject(parent) {}

void EditTracker::track(QLineEdit* entry) {
    states_.insert(entry, {});
    entry->installEventFilter(this);
    connect(entry, &QLineEdit::textEdited, this, [this, entry] { markEdited(entry); });
    connect(entry, &QLineEdit::textChanged, this, [this, entry] {
        if (!showing_) markEdited(entry);
    });
    connect(entry, &QObject::destroyed, this, [this, entry] { states_.remove(entry); });
}

void EditTracker::track(QComboBox* list) {
    states_.insert(list, {});
    list->installEventFilter(this);
    // activated comes with every pick by the operator (drop-down, arrow keys, wheel), even of the
    // entry already shown; a program's setCurrentIndex does not emit it.
    connect(list, &QComboBox::activated, this, [this, list] { markEdited(list); });
    connect(list, &QComboBox::currentTextChanged, this, [this, list] {
        if (!showing_) markEdited(list);
    });
    if (QLineEdit* line = list->lineEdit())
        connect(line, &QLineEdit::textEdited, this, [this, list] { markEdited(list); });
    connect(list, &QObject::destroyed, this, [this, list] { states_.remove(list); });
}

bool EditTracker::editedSinceFocusIn(const QWidget* control) const {
    return states_.value(control).edited;
}

bool EditTracker::heldByOperator(const QWidget* control) const {
    return states_.value(control).held;
}

void EditTracker::showText(QLineEdit* entry, const QString& text) {
    showing_ = true;
    entry->setText(text);
    showing_ = false;
}

void EditTracker::showEntry(QComboBox* list, int index) {
    showing_ = true;
    list->setCurrentIndex(index);
    showing_ = false;
}

void EditTracker::markEdited(QObject* control) {
    const auto it = states_.find(control);
    if (it == states_.end()) return;
    it->edited = true;
    it->held = true;
}

bool EditTracker::eventFilter(QObject* watched, QEvent* e) {
    if (e->type() != QEvent::FocusIn && e->type() != QEvent::FocusOut) return false;
    const auto it = states_.find(watched);
    if (it == states_.end()) return false;
    // A list's own drop-down and a switch to another window neither enter nor leave the control.
    const Qt::FocusReason reason = static_cast<QFocusEvent*>(e)->reason();
    if (reason == Qt::PopupFocusReason || reason == Qt::ActiveWindowFocusReason) return false;
    if (e->type() == QEvent::FocusIn) {
        it->edited = false;
    } else if (it->edited) {
        it->edited = false;
        if (!stopped_) emit changed(static_cast<QWidget*>(watched));
    }
    return false;
}

}  // namespace ui
