#include "shell/splashwindow.h"
#include "base/tr.h"

#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QTimer>
#include <QVBoxLayout>

namespace shell {

SplashWindow::SplashWindow(QWidget* parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint) {
    setObjectName(QStringLiteral("frmSplash"));
    setFixedSize(520, 300);
    auto* label = new QLabel(base::Tr::tr("系统正在初始化数据引擎，请稍后。。。。。。"), this);
    label->setObjectName(QStringLiteral("Label1"));
    label->setStyleSheet(QStringLiteral("color: white; background: transparent;"));
    label->setAlignment(Qt::AlignCenter);
    auto* box = new QVBoxLayout(this);
    box->addStretch(3);
    box->addWidget(label);
    box->addStretch(1);
    countTimer_ = new QTimer(this);
    countTimer_->setObjectName(QStringLiteral("Timer2"));
    countTimer_->setInterval(200);
    handOverTimer_ = new QTimer(this);
    handOverTimer_->setObjectName(QStringLiteral("Timer1"));
    handOverTimer_->setInterval(100);
    connect(countTimer_, &QTimer::timeout, this, &SplashWindow::countTick);
    connect(handOverTimer_, &QTimer::timeout, this, &SplashWindow::handOver);
}

void SplashWindow::start() {
    countTimer_->start();
}

void SplashWindow::countTick() {
    ++ticks_;
    if (ticks_ > 6) {
        countTimer_->stop();
        ticks_ = 0;
        handOverTimer_->start();
    }
}

void SplashWindow::handOver() {
    countTimer_->stop();
    handOverTimer_->stop();
    hide();
    emit finished();
}

void SplashWindow::paintEvent(QPaintEvent*) {
    // The picture: a plain gradient with the instrument's two loops drawn as two rising curves.
    QPainter p(this);
    QLinearGradient g(0, 0, 0, height());
    g.setColorAt(0, QColor(20, 60, 120));
    g.setColorAt(1, QColor(10, 25, 60));
    p.fillRect(rect(), g);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor colors[] = {QColor(255, 90, 90), QColor(90, 200, 255)};
    for (int c = 0; c < 2; ++c) {
        QPainterPath path;
        path.moveTo(30, 180 - c * 30);
        path.cubicTo(180, 180 - c * 30, 220, 60 - c * 10, 490, 70 - c * 20);
        p.setPen(QPen(colors[c], 3));
        p.drawPath(path);
    }
}

}  // namespace shell
