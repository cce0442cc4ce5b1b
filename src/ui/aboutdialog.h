#pragma once
// The About box: the program, its version and its licence, and the libraries it is built with,
// each with its own licence.

#include <QDialog>
#include <QList>
#include <QString>

namespace ui {

struct Component {
    QString name;
    QString license;  // an SPDX expression
};

// What the program is built with, in the order shown.
QList<Component> components();

class AboutDialog : public QDialog {
    Q_OBJECT
  public:
    explicit AboutDialog(QWidget* parent);
    // Opens the one About box of the program (raised when it is open already).
    static void show(QWidget* parent);
};

}  // namespace ui
