#include "ui/writestatus.h"

#include "base/numberrule.h"

namespace ui {

QString writeOutcomeText(const QString& caption, const QString& value, bool written,
                         const QString& error) {
    if (written) return QStringLiteral("%1 = %2 已写入").arg(caption, value);
    return QStringLiteral("%1 = %2 写入失败（%3）")
        .arg(caption, value, error.isEmpty() ? QStringLiteral("仪表无应答") : error);
}

WriteStatusLine::WriteStatusLine(QWidget* parent) : ValueLabel(parent) {
    setObjectName(QStringLiteral("WriteStatus"));
    setAccessibleName(QStringLiteral("写入状态"));
    setFrameShape(QFrame::StyledPanel);
    setFrameShadow(QFrame::Sunken);
    setTextInteractionFlags(Qt::TextSelectableByMouse);
    setMinimumHeight(fontMetrics().height() + 6);
}

void WriteStatusLine::showOutcome(const QString& caption, const QString& value, bool written,
                                  const QString& error) {
    setText(writeOutcomeText(caption, value, written, error));
}

void WriteStatusLine::showRefused(const QString& caption, const QString& text,
                                  const QString& reason) {
    setText(base::refusedText(caption, text, reason));
}

}  // namespace ui
