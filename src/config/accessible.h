#pragma once
// Controls of the configuration window as assistive technology sees them.
//
// ReadbackLabel shows a value read from the instrument. It presents its accessible name (what the
// value is) and, as its value, the text it shows, so that a screen reader says
// "输入1 输入上限 读数" and then the number; a plain QLabel with a name set hides its text.
//
// ParamList is an option list that presents its accessible name as its name. Qt's own interface
// for an editable combo box on Linux gives the shown entry as the name, so a list could not be
// found by what it is ("通讯波特率") but only by what it shows.

#include <QComboBox>
#include <QLabel>

namespace config {

class ReadbackLabel : public QLabel {
    Q_OBJECT
  public:
    explicit ReadbackLabel(QWidget* parent = nullptr);
};

class ParamList : public QComboBox {
    Q_OBJECT
  public:
    explicit ParamList(QWidget* parent = nullptr);
};

}  // namespace config
