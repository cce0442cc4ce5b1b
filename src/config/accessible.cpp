#include "config/accessible.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QLineEdit>

namespace config {

namespace {

class ReadbackAccessible : public QAccessibleWidget {
  public:
    explicit ReadbackAccessible(QWidget* w) : QAccessibleWidget(w, QAccessible::StaticText) {}

    QString text(QAccessible::Text t) const override {
        auto* label = static_cast<QLabel*>(widget());
        switch (t) {
            case QAccessible::Name:
                return label->accessibleName().isEmpty() ? label->text() : label->accessibleName();
            case QAccessible::Value:
                return label->text();
            default:
                return QAccessibleWidget::text(t);
        }
    }
};

// A combo box: the drop-down list and, when editable, the entry field as children; the name is
// the accessible name, the value the shown text; "showMenu" / "press" open or close the list.
class ListAccessible : public QAccessibleWidget {
  public:
    explicit ListAccessible(QWidget* w) : QAccessibleWidget(w, QAccessible::ComboBox) {}

    QComboBox* box() const { return static_cast<QComboBox*>(widget()); }

    int childCount() const override { return box()->lineEdit() ? 2 : 1; }
    QAccessibleInterface* child(int index) const override {
        if (index == 0) return QAccessible::queryAccessibleInterface(box()->view());
        if (index == 1 && box()->lineEdit())
            return QAccessible::queryAccessibleInterface(box()->lineEdit());
        return nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        if (!child) return -1;
        if (child->object() == box()->view()) return 0;
        if (box()->lineEdit() && child->object() == box()->lineEdit()) return 1;
        return -1;
    }
    QAccessibleInterface* childAt(int x, int y) const override {
        QLineEdit* edit = box()->lineEdit();
        if (edit && edit->isVisible() &&
            QRect(edit->mapToGlobal(QPoint(0, 0)), edit->size()).contains(x, y))
            return child(1);
        return nullptr;
    }

    QString text(QAccessible::Text t) const override {
        switch (t) {
            case QAccessible::Name:
                return box()->accessibleName().isEmpty() ? box()->currentText()
                                                         : box()->accessibleName();
            case QAccessible::Value:
                return box()->currentText();
            default:
                return QAccessibleWidget::text(t);
        }
    }

    QStringList actionNames() const override {
        return QStringList{showMenuAction(), pressAction()} + QAccessibleWidget::actionNames();
    }
    void doAction(const QString& action) override {
        if (action == showMenuAction() || action == pressAction()) {
            if (box()->view()->isVisible())
                box()->hidePopup();
            else
                box()->showPopup();
            return;
        }
        QAccessibleWidget::doAction(action);
    }
};

QAccessibleInterface* configFactory(const QString& className, QObject* object) {
    if (!object || !object->isWidgetType()) return nullptr;
    auto* w = static_cast<QWidget*>(object);
    if (className == QLatin1String("config::ReadbackLabel")) return new ReadbackAccessible(w);
    if (className == QLatin1String("config::ParamList")) return new ListAccessible(w);
    return nullptr;
}

void installFactoryOnce() {
    static const bool installed = [] {
        QAccessible::installFactory(configFactory);
        return true;
    }();
    (void)installed;
}

}  // namespace

ReadbackLabel::ReadbackLabel(QWidget* parent) : QLabel(parent) {
    installFactoryOnce();
}

ParamList::ParamList(QWidget* parent) : QComboBox(parent) {
    installFactoryOnce();
}

}  // namespace config
