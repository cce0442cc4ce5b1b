#pragma once
// The line at the bottom of a window that ends every write the operator starts with a word: sent
// and taken, sent and failed (with the reason), or not sent (with the reason).

#include "ui/accessible.h"

namespace ui {

// "<caption> = <value> 已写入", or "<caption> = <value> 写入失败（<error>）" when it failed.
QString writeOutcomeText(const QString& caption, const QString& value, bool written,
                         const QString& error);

// Read by screen readers as a value label: its name, then the last outcome.
class WriteStatusLine : public ValueLabel {
    Q_OBJECT
  public:
    explicit WriteStatusLine(QWidget* parent = nullptr);  // objectName "WriteStatus"

    void showOutcome(const QString& caption, const QString& value, bool written,
                     const QString& error);
    // A value not sent: "<caption>：“abc” 不是数字，未发送".
    void showRefused(const QString& caption, const QString& text, const QString& reason);
};

}  // namespace ui
