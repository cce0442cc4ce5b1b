#pragma once
// "报警通知": which alert rules are on and their delays, the bands around SV (or fixed limits),
// the mail server, sender, recipients and escalation addresses, the webhook, how often unanswered
// alerts repeat, and "发送测试" with its result. "确定" takes the settings and keeps them.

#include <QDialog>
#include <array>
#include <functional>

#include "alert/message.h"
#include "alert/rules.h"

class QCheckBox;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QSpinBox;

namespace ui {
class BandEditor;
}

namespace alert {

class Alerter;

class AlertWindow : public QDialog {
    Q_OBJECT
  public:
    // Takes the settings accepted, with the ones before the window opened and the reason: the
    // chamber's command, which decides, records and keeps them; the refusal as shown, empty when
    // they were taken.
    using ApplySettings = std::function<QString(const NotifySettings& before, const RuleConfig&,
                                                const NotifySettings&, const QString& reason)>;
    AlertWindow(Alerter& alerter, ApplySettings apply, QWidget* parent = nullptr);

    // What the window holds now; false with *error (for the result line) when an entry is wrong.
    bool read(RuleConfig* rules, NotifySettings* notify, QString* error) const;
    bool readOrSay(RuleConfig* rules, NotifySettings* notify);
    // "确定": takes and keeps the settings, then closes; a wrong entry is named instead.
    void accept() override;
    // "取消": settings a test took for the moment are given back.
    void reject() override;
    // "发送测试" with the settings as the window holds them.
    void sendTest();

  private:
    void fill(const RuleConfig& rules, const NotifySettings& notify);
    QWidget* buildRules();
    QWidget* buildNotify();

    Alerter& alerter_;
    ApplySettings apply_;
    NotifySettings before_;
    std::array<QCheckBox*, kKindCount> enabled_{};
    std::array<QSpinBox*, kKindCount> delay_{};
    std::array<ui::BandEditor*, 2> bands_{};
    QDoubleSpinBox* forwardBehind_ = nullptr;
    QLineEdit* mail_ = nullptr;
    QLineEdit* password_ = nullptr;
    QLineEdit* from_ = nullptr;
    QLineEdit* to_ = nullptr;
    QLineEdit* escalateTo_ = nullptr;
    QLineEdit* webhook_ = nullptr;
    QSpinBox* repeat_ = nullptr;
    QSpinBox* escalate_ = nullptr;
    QCheckBox* sound_ = nullptr;
    QLabel* result_ = nullptr;
};

}  // namespace alert
