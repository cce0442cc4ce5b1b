#include "shell/programnumberdialog.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "base/numberrule.h"
#include "base/tr.h"

namespace shell {

int16_t& ProgramNumber() {
    static int16_t value = 0;
    return value;
}

ProgramNumberDialog::ProgramNumberDialog(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("Msg1"));
    setWindowTitle(base::Tr::tr("输入程序号"));
    auto* label1 = new QLabel(base::Tr::tr("输入程序号"), this);
    label1->setObjectName(QStringLiteral("Label1"));
    auto* label2 = new QLabel(base::Tr::tr("程序号"), this);
    label2->setObjectName(QStringLiteral("Label2"));
    setValueEdits_ = new QLineEdit(QStringLiteral("1"), this);
    setValueEdits_->setObjectName(QStringLiteral("Text1"));
    setValueEdits_->setAccessibleName(base::Tr::tr("程序号"));
    label2->setBuddy(setValueEdits_);
    auto* ok = new QPushButton(base::Tr::tr("确定"), this);
    ok->setObjectName(QStringLiteral("Command1"));
    ok->setAccessibleName(base::Tr::tr("确定"));
    auto* cancel = new QPushButton(base::Tr::tr("取消"), this);
    cancel->setObjectName(QStringLiteral("Command2"));
    cancel->setAccessibleName(base::Tr::tr("取消"));
    auto* grid = new QGridLayout(this);
    grid->addWidget(label1, 0, 0, 1, 2);
    grid->addWidget(label2, 1, 0);
    grid->addWidget(setValueEdits_, 1, 1);
    grid->addWidget(ok, 2, 0);
    grid->addWidget(cancel, 2, 1);
    connect(ok, &QPushButton::clicked, this, &ProgramNumberDialog::confirm);
    connect(cancel, &QPushButton::clicked, this, &ProgramNumberDialog::cancel);
}

void ProgramNumberDialog::confirm() {
    // A value outside 16 bits leaves the number as it was; the dialog closes all the same.
    if (auto v = base::roundToInt16(base::leadingNumber(setValueEdits_->text())))
        ProgramNumber() = *v;
    blockClose_ = false;
    accept();
}

void ProgramNumberDialog::cancel() {
    blockClose_ = false;
    QDialog::reject();
}

void ProgramNumberDialog::reject() {
    if (!blockClose_) QDialog::reject();
}

void ProgramNumberDialog::closeEvent(QCloseEvent* e) {
    if (blockClose_)
        e->ignore();
    else
        QDialog::closeEvent(e);
}

}  // namespace shell
