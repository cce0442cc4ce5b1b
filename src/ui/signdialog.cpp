#include "ui/signdialog.h"

#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>

#include "base/tr.h"

namespace ui {

QStringList SignDialog::meanings() {
    return {base::Tr::tr("执行"), base::Tr::tr("审核"), base::Tr::tr("批准")};
}

SignDialog::SignDialog(const QString& what, Signer signer, QWidget* parent)
    : QDialog(parent), signer_(std::move(signer)) {
    setObjectName(QStringLiteral("SignDialog"));
    setWindowTitle(base::Tr::tr("签名"));
    user_ = new QLineEdit(this);
    user_->setObjectName(QStringLiteral("SignUser"));
    password_ = new QLineEdit(this);
    password_->setObjectName(QStringLiteral("SignPassword"));
    password_->setEchoMode(QLineEdit::Password);
    meaning_ = new QComboBox(this);
    meaning_->setObjectName(QStringLiteral("SignMeaning"));
    meaning_->addItems(meanings());
    message_ = new QLabel(this);
    message_->setObjectName(QStringLiteral("SignMessage"));
    message_->setWordWrap(true);
    sign_ = new QPushButton(base::Tr::tr("签名"), this);
    sign_->setObjectName(QStringLiteral("SignButton"));
    sign_->setDefault(true);
    auto* form = new QFormLayout(this);
    auto* subject = new QLabel(what, this);
    subject->setWordWrap(true);
    form->addRow(subject);
    form->addRow(base::Tr::tr("用户名"), user_);
    form->addRow(base::Tr::tr("密码"), password_);
    form->addRow(base::Tr::tr("含义"), meaning_);
    form->addRow(message_);
    form->addRow(sign_);
    connect(sign_, &QPushButton::clicked, this, &SignDialog::submit);
}

void SignDialog::submit() {
    if (!sign_->isEnabled()) return;
    const QString user = user_->text().trimmed();
    const QString password = password_->text();
    password_->clear();
    const QList<QWidget*> inputs = {user_, password_, meaning_, sign_};
    for (QWidget* w : inputs)
        w->setEnabled(false);
    message_->setText(base::Tr::tr("正在验证…"));
    signer_(user, password, meaning_->currentIndex(),
            [self = QPointer<SignDialog>(this), inputs](const QString& why) {
                if (!self) return;
                if (why.isEmpty()) return self->accept();
                for (QWidget* w : inputs)
                    w->setEnabled(true);
                self->message_->setText(why);
                self->password_->setFocus();
            });
}

}  // namespace ui
