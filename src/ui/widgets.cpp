#include "ui/widgets.h"

#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

#include "base/tr.h"

#include "ui/accessible.h"

namespace ui {

void setLabelBackground(QWidget* w, const QColor& colour) {
    if (!w) return;
    w->setAutoFillBackground(true);
    // The live panel sets it on every tick: an unchanged colour costs no palette change.
    if (w->palette().color(QPalette::Window) == colour) return;
    QPalette p = w->palette();
    p.setColor(QPalette::Window, colour);
    w->setPalette(p);
}

QLabel* captionLabel(const QString& text) {
    auto* l = new QLabel(text);
    l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return l;
}

QLabel* valueLabel(const QString& name, const QString& accessibleName, int minWidth) {
    auto* l = new ValueLabel;
    l->setObjectName(name);
    l->setAccessibleName(accessibleName);
    l->setFrameShape(QFrame::Panel);
    l->setFrameShadow(QFrame::Sunken);
    l->setAlignment(Qt::AlignCenter);
    if (minWidth > 0) l->setMinimumWidth(minWidth);
    return l;
}

QPushButton* commandButton(const QString& caption, const QString& name,
                           const QString& accessibleName) {
    auto* b = new QPushButton(caption);
    b->setObjectName(name);
    b->setAccessibleName(accessibleName.isEmpty() ? caption.trimmed() : accessibleName);
    b->setAutoDefault(false);
    return b;
}

void setWriteCaption(QWidget* w, const QString& caption) {
    w->setProperty("writeCaption", caption);
}

QString writeCaption(const QWidget* w) {
    const QString c = w->property("writeCaption").toString();
    return c.isEmpty() ? w->accessibleName() : c;
}

QMessageBox* askFirst(QWidget* parent, const QString& text, const QString& name, const QString& yes,
                      const QString& yesName, std::function<void()> onYes) {
    auto* box = new QMessageBox(QMessageBox::Question, parent->windowTitle(), text,
                                QMessageBox::NoButton, parent);
    box->setObjectName(name);
    box->setAttribute(Qt::WA_DeleteOnClose);
    QPushButton* yesButton = box->addButton(yes, QMessageBox::AcceptRole);
    yesButton->setObjectName(name + yesName);
    yesButton->setAccessibleName(yes);
    QPushButton* cancel = box->addButton(base::Tr::tr("取消"), QMessageBox::RejectRole);
    cancel->setObjectName(name + QStringLiteral("Cancel"));
    cancel->setAccessibleName(base::Tr::tr("取消"));
    box->setDefaultButton(cancel);
    box->setEscapeButton(cancel);
    QObject::connect(box, &QMessageBox::finished, box, [box, yesButton, onYes = std::move(onYes)] {
        if (box->clickedButton() == yesButton && onYes) onYes();
    });
    box->open();
    return box;
}

namespace {
const char* const kChamberProperty = "chamberName";
}  // namespace

void setChamberName(QWidget* window, const QString& name) {
    if (!window || name.isEmpty()) return;
    window->setProperty(kChamberProperty, name);
    window->setWindowTitle(chamberTitle(window->windowTitle(), window));
}

QString chamberName(const QWidget* w) {
    return w ? w->window()->property(kChamberProperty).toString() : QString();
}

void nameChamberAfter(QWidget* opened, const QWidget* opener) {
    setChamberName(opened, chamberName(opener));
}

QString chamberTitle(const QString& title, const QWidget* opener) {
    const QString name = chamberName(opener);
    if (name.isEmpty()) return title;
    const QString suffix = QStringLiteral(" — ") + name;
    return title.trimmed().endsWith(suffix.trimmed()) ? title : title.trimmed() + suffix;
}

}  // namespace ui
