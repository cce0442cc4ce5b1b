#include "ui/aboutdialog.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "base/tr.h"

namespace ui {

QList<Component> components() {
    return {
        {QStringLiteral("Qt 6"), QStringLiteral("LGPL-3.0-only")},
        {QStringLiteral("libmodbus"), QStringLiteral("LGPL-2.1-or-later")},
        {QStringLiteral("SQLite"), QStringLiteral("blessing (public domain)")},
        {QStringLiteral("libsodium"), QStringLiteral("ISC")},
        {QStringLiteral("libcurl"), QStringLiteral("curl")},
        {QStringLiteral("civetweb"), QStringLiteral("MIT")},
        {QStringLiteral("OpenSSL 3"), QStringLiteral("Apache-2.0")},
        {QStringLiteral("libmosquitto"), QStringLiteral("EPL-2.0 OR BSD-3-Clause (EDL-1.0)")},
        {QStringLiteral("uPlot"), QStringLiteral("MIT")},
    };
}

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("AboutDialog"));
    setWindowTitle(base::Tr::tr("关于"));
    auto* layout = new QVBoxLayout(this);
    auto* title = new QLabel(QStringLiteral("VelmarS %1").arg(QStringLiteral(VELMARS_VERSION)));
    title->setObjectName(QStringLiteral("AboutTitle"));
    QFont big = title->font();
    big.setPointSizeF(big.pointSizeF() * 1.4);
    big.setBold(true);
    title->setFont(big);
    auto* license = new QLabel(base::Tr::tr(
        "自由软件：您可以按自由软件基金会发布的 GNU 通用公共许可证第 3 版或（由您选择）"
        "任何更新版本（GPL-3.0-or-later）再发布和修改它。本程序不提供任何担保。"
        "许可证全文见随程序附带的 LICENSE 文件。"));
    license->setObjectName(QStringLiteral("AboutLicense"));
    license->setWordWrap(true);
    license->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    auto* built = new QLabel(base::Tr::tr("本程序使用以下软件，各按其许可证："));
    auto* table = new QTableWidget(0, 2);
    table->setObjectName(QStringLiteral("AboutComponents"));
    table->setAccessibleName(built->text());
    table->setHorizontalHeaderLabels({base::Tr::tr("组件"), base::Tr::tr("许可证")});
    table->verticalHeader()->hide();
    table->horizontalHeader()->setStretchLastSection(true);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setTabKeyNavigation(false);
    for (const Component& c : components()) {
        const int row = table->rowCount();
        table->insertRow(row);
        table->setItem(row, 0, new QTableWidgetItem(c.name));
        table->setItem(row, 1, new QTableWidgetItem(c.license));
    }
    table->resizeColumnToContents(0);
    built->setBuddy(table);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close);
    buttons->button(QDialogButtonBox::Close)->setText(base::Tr::tr("关闭"));
    buttons->button(QDialogButtonBox::Close)->setObjectName(QStringLiteral("AboutClose"));
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(title);
    layout->addWidget(license);
    layout->addWidget(built);
    layout->addWidget(table, 1);
    layout->addWidget(buttons);
    resize(520, 420);
}

void AboutDialog::show(QWidget* parent) {
    static QPointer<AboutDialog> open;
    if (!open) {
        open = new AboutDialog(parent);
        open->setAttribute(Qt::WA_DeleteOnClose);
    }
    open->QDialog::show();
    open->raise();
    open->activateWindow();
}

}  // namespace ui
