#pragma once
// How a window sends the operator's values and ends every write with a word: sent and taken, sent
// and failed (with the reason), or not sent (with the reason). WriteSender keeps the values in
// flight and says each outcome; WriteStatusLine is the line at the bottom of a window that shows
// it.

#include <QHash>
#include <QObject>
#include <cstdint>
#include <functional>
#include <optional>

#include "base/audit.h"
#include "base/numberrule.h"
#include "base/tr.h"
#include "ui/accessible.h"

namespace ui {

// "<caption> = <value> 已写入", or "<caption> = <value> 写入失败（<error>）" when it failed
// ("仪表无应答" when no reason is known). The caption comes in Chinese, the error in the chosen
// language.
QString writeOutcomeText(const QString& caption, const QString& value, bool written,
                         const QString& error);

class WriteSender : public QObject {
    Q_OBJECT
  public:
    explicit WriteSender(QObject* parent = nullptr);

    // Sends through link and follows its outcomes: anything with writeHolding(reg, value,
    // caption, audit) that returns the request id, and a writeReported(report) signal whose
    // report carries that id, the status (0: written) and the reason of a failure (with
    // text(lang)). A write with a refusal in its audit is the link's to record, not to send.
    template <class Link>
    void sendThrough(Link& link) {
        send_ = [&link](int32_t reg, int32_t value, const QString& caption,
                        const base::Audit& audit) {
            return link.writeHolding(reg, value, caption, audit);
        };
        QObject::disconnect(reports_);
        reports_ = connect(&link, &Link::writeReported, this, [this](const auto& r) {
            report(r.id, r.status == 0, r.error.text(base::Lang::Shown));
        });
    }
    // Sends through send instead, whose outcomes come to report() with the ids it returned.
    using Send = std::function<quint64(int32_t reg, int32_t value, const QString& caption,
                                       const base::Audit& audit)>;
    void sendWith(Send send) {
        QObject::disconnect(reports_);
        send_ = std::move(send);
    }

    // Asked once a value is ready and before anything is sent: the write's audit (who asks and
    // why, or why the one at the PC may not), or nullopt when no reason was given and nothing is
    // to be sent. Without a gate every write goes as it is.
    using Gate = std::function<std::optional<base::Audit>(int32_t reg, const QString& caption,
                                                          const QString& shown)>;
    void setGate(Gate gate) { gate_ = std::move(gate); }

    // Sends value; shown is the value as the outcome line shows it.
    void send(int32_t reg, int32_t value, const QString& caption, const QString& shown);
    // Sends the value of a text read by a number rule, or says why it is not sent. shown is the
    // value as the outcome line shows it (its integer text when empty).
    void sendReading(int32_t reg, const base::RegisterReading& reading, const QString& caption,
                     const QString& typed, const QString& shown = {});
    // Sends the code of the list entry shown, or says that the text is no entry of the list.
    void sendListEntry(int32_t reg, std::optional<int32_t> code, const QString& caption,
                       const QString& shown);
    // A value not sent: "<caption>：“abc” 不是数字，未发送".
    void refuse(const QString& caption, const QString& text, const QString& reason);

    // The outcome of write id: says it when the write was sent from here and returns true. error
    // is in the chosen language.
    bool report(quint64 id, bool written, const QString& error);

  signals:
    void message(const QString& text);

  private:
    struct Sent {
        QString caption;
        QString shown;
    };
    std::function<quint64(int32_t reg, int32_t value, const QString& caption,
                          const base::Audit& audit)>
        send_;
    Gate gate_;
    QMetaObject::Connection reports_;
    QHash<quint64, Sent> pending_;  // write id -> what the outcome line names
};

// Read by screen readers as a value label: its name, then the last outcome.
class WriteStatusLine : public ValueLabel {
    Q_OBJECT
  public:
    explicit WriteStatusLine(QWidget* parent = nullptr);  // objectName "WriteStatus"
};

}  // namespace ui
