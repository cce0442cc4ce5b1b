#include "config/configwindow.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QFocusEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "link/link.h"
#include "ui/accessible.h"

namespace config {

namespace {

const QColor kReadbackBack(255, 192, 255);  // light pink behind every readback
const QColor kHintText(0, 0, 192);          // dark blue hints
const QColor kEditBack(255, 255, 255);      // T_3RW boxes

QLabel* hintLabel(const QString& text, const QString& name, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, kHintText);
    label->setPalette(pal);
    label->setWordWrap(true);
    return label;
}

}  // namespace

QWidget* ConfigWindow::Row::editor() const {
    return list ? static_cast<QWidget*>(list) : static_cast<QWidget*>(edit);
}

ConfigWindow::ConfigWindow(comm::Link& link, QWidget* parent) : QWidget(parent), link_(link) {
    setObjectName(QStringLiteral("CONFIG1"));
    setWindowTitle(QStringLiteral("Velmar 配置 "));
    setAttribute(Qt::WA_DeleteOnClose, false);

    auto* frame = new QGroupBox(QStringLiteral("CONFIG"), this);
    frame->setObjectName(QStringLiteral("Frame1"));
    tabs_ = new QTabWidget(frame);
    tabs_->setObjectName(QStringLiteral("SSTab1"));
    tabs_->setAccessibleName(QStringLiteral("CONFIG"));
    tabs_->setUsesScrollButtons(false);
    auto* frameLayout = new QVBoxLayout(frame);
    frameLayout->addWidget(tabs_);

    const QStringList& captions = tabCaptions();
    for (int t = 0; t < captions.size(); ++t)
        tabs_->addTab(buildTab(t), captions.at(t));
    tabs_->setCurrentIndex(kOpeningTab);

    command11_ = new QPushButton(QStringLiteral(" Esc 返回"), this);
    command11_->setObjectName(QStringLiteral("Command11"));
    command11_->setAccessibleName(QStringLiteral("Esc 返回"));
    command11_->setAutoDefault(false);
    connect(command11_, &QPushButton::clicked, this, &ConfigWindow::Command11_Click);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(command11_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(frame, 1);
    layout->addLayout(buttons);

    // The button is the window's cancel button: Esc presses it wherever the focus is.
    auto* esc = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(esc, &QShortcut::activated, this, &ConfigWindow::Command11_Click);

    // Tab order: the tab bar, then every row top to bottom (controls on hidden tabs are skipped),
    // then the button.
    QWidget* previous = tabs_;
    for (const Row& row : rows_) {
        setTabOrder(previous, row.editor());
        previous = row.editor();
    }
    setTabOrder(previous, command11_);

    timer1_ = new QTimer(this);
    timer1_->setObjectName(QStringLiteral("Timer1"));
    timer1_->setInterval(1000);
    connect(timer1_, &QTimer::timeout, this, &ConfigWindow::Timer1_Timer);
    timer1_->start();

    // Nothing is written until the operator enters a box, so the focus starts on the tab bar.
    tabs_->tabBar()->setFocus(Qt::OtherFocusReason);
    resize(900, 600);
}

ConfigWindow::~ConfigWindow() {
    // Focus changes while the controls are torn down must not write anything.
    unloading_ = true;
}

QWidget* ConfigWindow::buildTab(int tab) {
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("SSTab1_page_%1").arg(tab));
    auto* grid = new QGridLayout(page);
    grid->setColumnStretch(3, 1);
    grid->setHorizontalSpacing(12);
    grid->setVerticalSpacing(10);
    int line = 0;
    for (const Param& p : parameterTable()) {
        if (p.tab != tab) continue;
        Row row;
        row.param = &p;
        const QString name = config::accessibleName(p);

        auto* caption = new QLabel(p.caption, page);
        caption->setObjectName(QStringLiteral("Label1_%1").arg(p.k));

        auto* readback = new ui::ValueLabel(page);
        readback->setObjectName(QStringLiteral("D_4W_%1").arg(p.k));
        readback->setAutoFillBackground(true);
        QPalette pal = readback->palette();
        pal.setColor(QPalette::Window, kReadbackBack);
        readback->setPalette(pal);
        readback->setFrameShape(QFrame::Panel);
        readback->setFrameShadow(QFrame::Sunken);
        readback->setMinimumWidth(130);
        readback->setMinimumHeight(26);
        readback->setIndent(4);
        readback->setAccessibleName(name + QStringLiteral(" 读数"));
        readback->setAccessibleDescription(p.hint);
        row.readback = readback;

        QWidget* editor = nullptr;
        if (p.kind == Kind::List) {
            auto* list = new ui::NamedList(page);
            list->setEditable(true);
            list->setInsertPolicy(QComboBox::NoInsert);
            list->addItems(p.options->entries);
            list->setCurrentIndex(0);
            list->setMaxVisibleItems(p.options->entries.size());
            row.list = list;
            editor = list;
        } else {
            auto* edit = new QLineEdit(page);
            edit->setAutoFillBackground(true);
            QPalette epal = edit->palette();
            epal.setColor(QPalette::Base, kEditBack);
            edit->setPalette(epal);
            row.edit = edit;
            editor = edit;
        }
        editor->setObjectName(editorName(p));
        editor->setAccessibleName(name);
        editor->setAccessibleDescription(p.hint);
        editor->setMinimumWidth(190);
        editor->installEventFilter(this);
        caption->setBuddy(editor);

        grid->addWidget(caption, line, 0);
        grid->addWidget(readback, line, 1, Qt::AlignVCenter);
        grid->addWidget(editor, line, 2);
        grid->addWidget(hintLabel(p.hint, QStringLiteral("Label2_%1").arg(p.k), page), line, 3);
        ++line;

        rowOf_.insert(editor, rows_.size());
        rows_.push_back(row);
    }
    if (tab == 0) {
        grid->addWidget(hintLabel(instExtraHint(), QStringLiteral("LabelInstHint"), page), line, 0,
                        1, 4);
        ++line;
    }
    grid->setRowStretch(line, 1);
    return page;
}

void ConfigWindow::Timer1_Timer() {
    const auto& values = link_.image().ParamValues;
    for (const Row& row : rows_) {
        const std::optional<QString> text =
            readbackText(*row.param, values.at(static_cast<size_t>(row.param->k)));
        if (text && row.readback->text() != *text) row.readback->setText(*text);
    }
}

void ConfigWindow::Command11_Click() {
    if (unloading_) return;
    unloading_ = true;
    blockClose_ = false;
    timer1_->stop();
    close();
    emit returned();
}

void ConfigWindow::closeEvent(QCloseEvent* e) {
    if (blockClose_) {
        e->ignore();
        return;
    }
    QWidget::closeEvent(e);
}

void ConfigWindow::keyPressEvent(QKeyEvent* e) {
    // Keys no control took: Esc leaves, Ctrl+Tab and Ctrl+Shift+Tab switch tabs (from the button,
    // for instance, which is outside the tab control).
    if (e->key() == Qt::Key_Escape && e->modifiers() == Qt::NoModifier) {
        Command11_Click();
        return;
    }
    if (e->modifiers() & Qt::ControlModifier) {
        if (e->key() == Qt::Key_Tab) {
            switchTab(e->modifiers() & Qt::ShiftModifier ? -1 : 1);
            return;
        }
        if (e->key() == Qt::Key_Backtab) {
            switchTab(-1);
            return;
        }
    }
    QWidget::keyPressEvent(e);
}

void ConfigWindow::switchTab(int step) {
    const int n = tabs_->count();
    tabs_->setCurrentIndex((tabs_->currentIndex() + step + n) % n);
}

bool ConfigWindow::eventFilter(QObject* watched, QEvent* e) {
    if (e->type() == QEvent::FocusOut && !unloading_) {
        const auto reason = static_cast<QFocusEvent*>(e)->reason();
        // A list's own drop-down and a switch to another application do not leave the box.
        if (reason != Qt::PopupFocusReason && reason != Qt::ActiveWindowFocusReason) {
            const auto it = rowOf_.constFind(watched);
            if (it != rowOf_.constEnd()) {
                const Row& row = rows_.at(*it);
                if (row.list)
                    listLostFocus(row);
                else
                    textLostFocus(row);
            }
        }
    }
    return QWidget::eventFilter(watched, e);
}

void ConfigWindow::listLostFocus(const Row& row) {
    const std::optional<int32_t> code = listCode(*row.param, row.list->currentText());
    if (!code) return;  // typed text that is no entry of the list: no code to send
    link_.commParams()(comm::kListCodeSlot) = *code;
    link_.writeHolding(row.param->reg(), link_.commParams()(comm::kListCodeSlot));
}

void ConfigWindow::textLostFocus(const Row& row) {
    const std::optional<int32_t> value = textValue(row.param->k, row.edit->text());
    if (!value) return;  // empty box, or a number no register can hold
    link_.writeHolding(row.param->reg(), *value);
}

}  // namespace config
