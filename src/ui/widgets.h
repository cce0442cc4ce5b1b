#pragma once
// Widget pieces every window builds the same way.

#include <QColor>
#include <QString>
#include <functional>

#include "ui/fonts.h"

class QLabel;
class QMessageBox;
class QPushButton;
class QWidget;

namespace ui {

// Fills the widget's background with the colour (the label backgrounds of the panels).
void setLabelBackground(QWidget* w, const QColor& colour);

// A caption right-aligned before its control.
QLabel* captionLabel(const QString& text);

// A value label (ui::ValueLabel): sunken, centred, named for UI automation (objectName) and for
// screen readers (accessibleName), at least minWidth pixels wide.
QLabel* valueLabel(const QString& name, const QString& accessibleName, int minWidth = 0);

// A push button that Enter in an entry does not press by accident (no auto-default). Its
// accessible name is the caption without padding unless another is given.
QPushButton* commandButton(const QString& caption, const QString& name,
                           const QString& accessibleName = QString());

// The caption a control's writes are logged under: its name as written in Chinese, so that the
// event log reads the same whatever the language of the window. Without one set, the accessible
// name.
void setWriteCaption(QWidget* w, const QString& caption);
QString writeCaption(const QWidget* w);

// A question asked before something that cannot be taken back, opened (not waited for) over
// parent: the button yes (objectName name + yesName) and "取消" (name + "Cancel"), the default
// that Esc chooses; onYes runs when yes was pressed. The box (objectName name) deletes itself.
QMessageBox* askFirst(QWidget* parent, const QString& text, const QString& name, const QString& yes,
                      const QString& yesName, std::function<void()> onYes);

// The chamber a window serves, named in its title after a dash ("试验 — TH02") so that several
// chambers' windows open at once are told apart. A window opened from another takes the opener's
// chamber (its top-level window's); an empty name (a single instrument) changes nothing.
void setChamberName(QWidget* window, const QString& name);
QString chamberName(const QWidget* w);
void nameChamberAfter(QWidget* opened, const QWidget* opener);
// A title with the opener's chamber after it (a file dialog's).
QString chamberTitle(const QString& title, const QWidget* opener);

}  // namespace ui
