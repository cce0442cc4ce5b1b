#include "ui/keys.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPointer>
#include <QPushButton>

namespace ui {

namespace {

class EnterPressesButton : public QObject {
  public:
    using QObject::QObject;

  protected:
    bool eventFilter(QObject* watched, QEvent* e) override {
        if (e->type() != QEvent::KeyPress) return false;
        auto* key = static_cast<QKeyEvent*>(e);
        if (key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter) return false;
        if (key->modifiers() & ~Qt::KeypadModifier) return false;
        // The event reaches the filter for the focused widget first and again for each parent
        // it is passed on to: only the button itself, when it holds the focus, is pressed.
        auto* button = qobject_cast<QPushButton*>(watched);
        if (!button || !button->hasFocus() || !button->isEnabled()) return false;
        if (!key->isAutoRepeat()) button->click();
        return true;
    }
};

}  // namespace

void pressFocusedButtonOnEnter() {
    static QPointer<QObject> installed;
    if (installed || !qApp) return;
    installed = new EnterPressesButton(qApp);
    qApp->installEventFilter(installed);
}

}  // namespace ui
