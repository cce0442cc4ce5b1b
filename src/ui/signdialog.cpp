#include "ui/signdialog.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>

#include "base/tr.h"

namespace ui {

QStringList SignDialog::meanings() {
    return {base::Tr::tr("执行"), base::Tr::tr("审核"), base::Tr::tr("批准")};
}

SignDialog::SignDialog(const QString& what, Signer signer, QWidget* parent)
    : QDialog(parent), signer_(std::move(signer)), form_(this) {
    setObjectName(QStringLiteral("SignDialog"));
    setWindowTitle(base::Tr::tr("签名"));
    form_.addLine(what);
    user_ = form_.entry(base::Tr::tr("用户名"), "SignUser", false);
    password_ = form_.entry(base::Tr::tr("密码"), "SignPassword", true);
    meaning_ = new QComboBox(this);
    meaning_->setObjectName(QStringLiteral("SignMeaning"));
    meaning_->addItems(meanings());
    form_.add(base::Tr::tr("含义"), meaning_);
    QPushButton* sign = form_.finish(base::Tr::tr("签名"), "SignButton", "SignMessage");
    connect(sign, &QPushButton::clicked, this, &SignDialog::submit);
}

void SignDialog::submit() {
    if (!form_.wait()) return;
    const QString user = user_->text().trimmed();
    const QString password = password_->text();
    password_->clear();
    signer_(user, password, meaning_->currentIndex(),
            [self = QPointer<SignDialog>(this)](const QString& why) {
                if (!self) return;
                if (why.isEmpty()) return self->accept();
                self->form_.answer(why);
                self->password_->setFocus();
            });
}

}  // namespace ui
