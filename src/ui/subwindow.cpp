#include "ui/subwindow.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPushButton>
#include <QShortcut>
#include <QTimer>

#include "base/tr.h"
#include "ui/edittracker.h"
#include "ui/keys.h"
#include "ui/widgets.h"

namespace ui {

SubWindow::SubWindow(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_DeleteOnClose, false);
    ui::pressFocusedButtonOnEnter();
    edits_ = new EditTracker(this);
    writer_ = new WriteSender(this);
    statusLine_ = new WriteStatusLine(this);
    connect(writer_, &WriteSender::message, statusLine_, &QLabel::setText);
    returnButton_ = commandButton(base::Tr::tr(" Esc 返回"), QStringLiteral("Command11"),
                                  base::Tr::tr("Esc 返回"));
    returnButton_->setParent(this);
    connect(returnButton_, &QPushButton::clicked, this, &SubWindow::returnToMainWindow);
    // The button is the window's cancel button: Esc presses it wherever the focus is.
    auto* esc = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(esc, &QShortcut::activated, this, &SubWindow::returnToMainWindow);
}

SubWindow::~SubWindow() {
    // Focus changes while the controls are torn down must not write anything.
    leaving_ = true;
    edits_->stop();
}

QHBoxLayout* SubWindow::bottomRow() {
    auto* row = new QHBoxLayout;
    row->addWidget(statusLine_, 1);
    row->addWidget(returnButton_);
    return row;
}

void SubWindow::startReadback(int intervalMs, const std::function<void()>& tick) {
    readbackTimer_ = new QTimer(this);
    readbackTimer_->setObjectName(QStringLiteral("Timer1"));
    readbackTimer_->setInterval(intervalMs);
    connect(readbackTimer_, &QTimer::timeout, this, tick);
    readbackTimer_->start();
}

void SubWindow::returnToMainWindow() {
    if (leaving_) return;
    leaving_ = true;
    edits_->stop();
    if (readbackTimer_) readbackTimer_->stop();
    close();
    emit returned();
}

void SubWindow::closeEvent(QCloseEvent* e) {
    // The close box is refused: the window is left through " Esc 返回" only.
    if (!leaving_) {
        e->ignore();
        return;
    }
    QWidget::closeEvent(e);
}

void SubWindow::keyPressEvent(QKeyEvent* e) {
    // Esc reaches here when the window's shortcut could not take it (the window not active).
    if (e->key() == Qt::Key_Escape && e->modifiers() == Qt::NoModifier) {
        returnToMainWindow();
        return;
    }
    QWidget::keyPressEvent(e);
}

}  // namespace ui
