#include "shell/splashwindow.h"

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
    auto* label = new QLabel(QStringLiteral("系统正在初始化数据引擎，请稍后。。。。。。"), this);
    label->setObjectName(QStringLiteral("Label1"));
    label->setStyleSheet(QStringLiteral("color: white; background: transparent;"));
    label->setAlignment(Qt::AlignCenter);
    auto* box = new QVBoxLayout(this);
    box->addStretch(3);
    box->addWidget(label);
    box->addStretch(1);
    timer2_ = new QTimer(this);
    timer2_->setObjectName(QStringLiteral("Timer2"));
    timer2_->setInterval(200);
    timer1_ = new QTimer(this);
    timer1_->setObjectName(QStringLiteral("Timer1"));
    timer1_->setInterval(100);
    connect(timer2_, &QTimer::timeout, this, &SplashWindow::timer2Tick);
    connect(timer1_, &QTimer::timeout, this, &SplashWindow::timer1Tick);
}

void SplashWindow::start() {
    timer2_->start();
}

void SplashWindow::timer2Tick() {
    ++splashTicks_;
    if (splashTicks_ > 6) {
        timer2_->stop();
        splashTicks_ = 0;
        timer1_->start();
    }
}

void SplashWindow::timer1Tick() {
    timer2_->stop();
    timer1_->stop();
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
