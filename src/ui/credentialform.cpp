#include "ui/credentialform.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "base/tr.h"

namespace ui {

CredentialForm::CredentialForm(QWidget* dialog) : dialog_(dialog), form_(new QFormLayout(dialog)) {}

QLineEdit* CredentialForm::entry(const QString& label, const char* name, bool secret) {
    auto* e = new QLineEdit(dialog_);
    e->setObjectName(QLatin1String(name));
    if (secret) e->setEchoMode(QLineEdit::Password);
    add(label, e);
    return e;
}

void CredentialForm::add(const QString& label, QWidget* input) {
    form_->addRow(label, input);
    inputs_ << input;
}

void CredentialForm::addLine(const QString& text) {
    auto* l = new QLabel(text, dialog_);
    l->setWordWrap(true);
    form_->addRow(l);
}

QPushButton* CredentialForm::finish(const QString& text, const char* buttonName,
                                    const char* messageName, const QList<QPushButton*>& beside) {
    message_ = new QLabel(dialog_);
    message_->setObjectName(QLatin1String(messageName));
    message_->setWordWrap(true);
    submit_ = new QPushButton(text, dialog_);
    submit_->setObjectName(QLatin1String(buttonName));
    submit_->setDefault(true);
    form_->addRow(message_);
    if (beside.isEmpty()) {
        form_->addRow(submit_);
    } else {
        auto* row = new QHBoxLayout;
        row->addWidget(submit_);
        for (QPushButton* b : beside)
            row->addWidget(b);
        form_->addRow(row);
    }
    return submit_;
}

bool CredentialForm::wait() {
    if (!submit_->isEnabled()) return false;
    for (QWidget* w : std::as_const(inputs_))
        w->setEnabled(false);
    submit_->setEnabled(false);
    message_->setText(base::Tr::tr("正在验证…"));
    return true;
}

void CredentialForm::answer(const QString& text) {
    for (QWidget* w : std::as_const(inputs_))
        w->setEnabled(true);
    submit_->setEnabled(true);
    message_->setText(text);
}

}  // namespace ui
