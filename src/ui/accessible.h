#pragma once
// Controls as assistive technology sees them, for every window.
//
// ValueLabel shows a value: a readback from the instrument or a live value. It presents its
// accessible name (what the value is) and, as its value, the text it shows, so that a screen
// reader says "输入1 输入上限 读数" and then the number; a plain QLabel with a name set hides its
// text.
//
// NamedList is an option list that presents its accessible name as its name. Qt's own interface
// for an editable combo box on Linux gives the shown entry as the name, so a list could not be
// found by what it is ("通讯端口") but only by what it shows.

#include <QComboBox>
#include <QLabel>

namespace ui {

class ValueLabel : public QLabel {
    Q_OBJECT
  public:
    explicit ValueLabel(QWidget* parent = nullptr);
    explicit ValueLabel(const QString& text, QWidget* parent = nullptr);
};

class NamedList : public QComboBox {
    Q_OBJECT
  public:
    explicit NamedList(QWidget* parent = nullptr);
};

}  // namespace ui
