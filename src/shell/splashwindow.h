#pragma once
// The start-up window: a picture and one caption for about 1.4 s, then it hands over to the main
// window.

#include <QWidget>

class QTimer;

namespace shell {

class SplashWindow : public QWidget {
    Q_OBJECT
  public:
    explicit SplashWindow(QWidget* parent = nullptr);
    int SplashTicks() const { return splashTicks_; }
    // Starts the sequence (the window's load).
    void start();

  signals:
    void finished();  // the first Timer1 tick: the main window comes up now

  protected:
    void paintEvent(QPaintEvent* e) override;

  private:
    void timer2Tick();
    void timer1Tick();

    QTimer* timer1_;
    QTimer* timer2_;
    int16_t splashTicks_ = 0;
};

}  // namespace shell
