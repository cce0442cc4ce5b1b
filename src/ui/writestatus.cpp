#include "ui/writestatus.h"

#include "base/text.h"
#include "base/tr.h"

namespace ui {

QString writeOutcomeText(const QString& caption, const QString& value, bool written,
                         const QString& error) {
    // The caption comes as written in Chinese (it goes to the event log so).
    const QString shownCaption = base::shown(caption);
    if (written) return base::Tr::tr("%1 = %2 已写入").arg(shownCaption, value);
    return base::Tr::tr("%1 = %2 写入失败（%3）")
        .arg(shownCaption, value, error.isEmpty() ? base::Tr::tr("仪表无应答") : error);
}

WriteSender::WriteSender(QObject* parent) : QObject(parent) {}

void WriteSender::send(int32_t reg, int32_t value, const QString& caption, const QString& shown) {
    if (!send_) return;
    base::Audit audit;
    if (gate_) {
        const auto given = gate_(reg, caption, shown);
        if (!given) {
            refuse(caption, shown, base::Tr::tr("未填写变更原因"));
            return;
        }
        audit = *given;
    }
    const quint64 id = send_(reg, value, caption, audit);
    if (!audit.refusal.isEmpty()) {
        refuse(caption, shown, base::wording(audit.refusal, base::Lang::Shown));
        return;
    }
    pending_.insert(id, {caption, shown});
}

void WriteSender::sendReading(int32_t reg, const base::RegisterReading& reading,
                              const QString& caption, const QString& typed, const QString& shown) {
    if (!reading.value) {
        refuse(caption, typed, reading.reason);
        return;
    }
    send(reg, *reading.value, caption, shown.isEmpty() ? base::intText(*reading.value) : shown);
}

void WriteSender::sendListEntry(int32_t reg, std::optional<int32_t> code, const QString& caption,
                                const QString& shown) {
    if (!code) {  // typed text that is no entry of the list: no code to send
        refuse(caption, shown, base::Tr::tr("不是列表中的选项"));
        return;
    }
    send(reg, *code, caption, shown.trimmed());
}

void WriteSender::refuse(const QString& caption, const QString& text, const QString& reason) {
    emit message(base::refusedText(caption, text, reason));
}

bool WriteSender::report(quint64 id, bool written, const QString& error) {
    const auto it = pending_.constFind(id);
    if (it == pending_.constEnd()) return false;
    const Sent sent = *it;
    pending_.erase(it);
    emit message(writeOutcomeText(sent.caption, sent.shown, written, error));
    return true;
}

WriteStatusLine::WriteStatusLine(QWidget* parent) : ValueLabel(parent) {
    setObjectName(QStringLiteral("WriteStatus"));
    setAccessibleName(base::Tr::tr("写入状态"));
    setFrameShape(QFrame::StyledPanel);
    setFrameShadow(QFrame::Sunken);
    setTextInteractionFlags(Qt::TextSelectableByMouse);
    setMinimumHeight(fontMetrics().height() + 6);
}

}  // namespace ui
