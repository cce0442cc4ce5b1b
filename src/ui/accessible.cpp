#include "ui/accessible.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QLineEdit>

namespace ui {

namespace {

// A value label: name and value as above, and a read-only text interface over the shown text,
// which is what AT-SPI clients (Orca, automation scripts) read as a label's content.
class ValueAccessible : public QAccessibleWidget, public QAccessibleTextInterface {
  public:
    explicit ValueAccessible(QWidget* w) : QAccessibleWidget(w, QAccessible::StaticText) {}

    QLabel* label() const { return static_cast<QLabel*>(widget()); }

    void* interface_cast(QAccessible::InterfaceType t) override {
        if (t == QAccessible::TextInterface) return static_cast<QAccessibleTextInterface*>(this);
        return QAccessibleWidget::interface_cast(t);
    }

    QString text(QAccessible::Text t) const override {
        switch (t) {
            case QAccessible::Name:
                return label()->accessibleName().isEmpty() ? label()->text()
                                                           : label()->accessibleName();
            case QAccessible::Value:
                return label()->text();
            default:
                return QAccessibleWidget::text(t);
        }
    }

    // QAccessibleTextInterface: the shown text, nothing selectable or editable.
    void selection(int, int* start, int* end) const override { *start = *end = 0; }
    int selectionCount() const override { return 0; }
    void addSelection(int, int) override {}
    void removeSelection(int) override {}
    void setSelection(int, int, int) override {}
    int cursorPosition() const override { return 0; }
    void setCursorPosition(int) override {}
    QString text(int startOffset, int endOffset) const override {
        const QString all = label()->text();
        const int start = qBound(0, startOffset, int(all.size()));
        const int end = endOffset < 0 ? int(all.size()) : qBound(start, endOffset, int(all.size()));
        return all.mid(start, end - start);
    }
    int characterCount() const override { return int(label()->text().size()); }
    QRect characterRect(int) const override { return QRect(); }
    int offsetAtPoint(const QPoint&) const override { return -1; }
    void scrollToSubstring(int, int) override {}
    QString attributes(int offset, int* startOffset, int* endOffset) const override {
        *startOffset = *endOffset = offset;
        return QString();
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

QAccessibleInterface* uiFactory(const QString& className, QObject* object) {
    if (!object || !object->isWidgetType()) return nullptr;
    auto* w = static_cast<QWidget*>(object);
    if (className == QLatin1String("ui::ValueLabel") ||
        className == QLatin1String("ui::WriteStatusLine"))
        return new ValueAccessible(w);
    if (className == QLatin1String("ui::NamedList")) return new ListAccessible(w);
    return nullptr;
}

void installFactoryOnce() {
    static const bool installed = [] {
        QAccessible::installFactory(uiFactory);
        return true;
    }();
    (void)installed;
}

}  // namespace

ValueLabel::ValueLabel(QWidget* parent) : QLabel(parent) {
    installFactoryOnce();
}

ValueLabel::ValueLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {
    installFactoryOnce();
}

NamedList::NamedList(QWidget* parent) : QComboBox(parent) {
    installFactoryOnce();
}

}  // namespace ui
