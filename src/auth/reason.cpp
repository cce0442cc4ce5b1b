#include "auth/reason.h"

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "auth/guard.h"
#include "base/numberrule.h"
#include "base/text.h"
#include "base/tr.h"

namespace auth {

ReasonDialog::ReasonDialog(const QString& what, const QStringList& reasons, QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("ReasonDialog"));
    setWindowTitle(base::Tr::tr("变更原因"));
    reason_ = new QComboBox(this);
    reason_->setObjectName(QStringLiteral("Reason"));
    reason_->setEditable(true);
    reason_->setInsertPolicy(QComboBox::NoInsert);
    reason_->addItems(reasons);
    reason_->setCurrentIndex(-1);
    reason_->setEditText(QString());
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    ok_ = buttons->button(QDialogButtonBox::Ok);
    ok_->setObjectName(QStringLiteral("ReasonOk"));
    ok_->setEnabled(false);
    auto* form = new QFormLayout(this);
    form->addRow(new QLabel(what, this));
    form->addRow(base::Tr::tr("变更原因"), reason_);
    form->addRow(buttons);
    connect(reason_, &QComboBox::editTextChanged, this,
            [this](const QString& text) { ok_->setEnabled(!text.trimmed().isEmpty()); });
    connect(buttons, &QDialogButtonBox::accepted, this, [this] {
        if (!reason().isEmpty()) accept();
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

QString ReasonDialog::reason() const {
    return reason_->currentText().trimmed();
}

std::optional<QString> askReason(QWidget* parent, const QString& what) {
    const Guard* g = Guard::instance();
    if (!g || !g->standing().controlled) return QString();
    ReasonDialog dialog(what, g->reasons(), parent ? parent : QApplication::activeWindow());
    if (dialog.exec() != QDialog::Accepted || dialog.reason().isEmpty()) return std::nullopt;
    return dialog.reason();
}

Actor actorAtThePc() {
    const Guard* g = Guard::instance();
    if (!g) return {};
    return Actor::atThePc(g->userId(), g->standing());
}

QString refusalShown(Action action) {
    return denialText(denial(actorAtThePc(), action), action, base::Lang::Shown);
}

std::optional<base::Audit> consent(QWidget* parent, Action action, const QString& what) {
    base::Audit audit = auditOf(actorAtThePc(), action);
    if (!audit.refusal.isEmpty() || !Guard::instance()) return audit;
    const auto reason = askReason(parent, what);
    if (!reason) return std::nullopt;
    audit.reason = *reason;
    return audit;
}

WriteGate writeGate(std::function<Action(int32_t reg)> actionOf) {
    return [actionOf = std::move(actionOf)](int32_t reg, const QString& caption,
                                            const QString& shown) {
        return consent(nullptr, actionOf(reg),
                       QStringLiteral("%1 = %2").arg(base::shown(caption), shown.trimmed()));
    };
}

}  // namespace auth
