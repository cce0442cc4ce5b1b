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
    int ticks() const { return ticks_; }
    // Starts the sequence (the window's load).
    void start();

  signals:
    void finished();  // the hand-over: the main window comes up now

  protected:
    void paintEvent(QPaintEvent* e) override;

  private:
    void countTick();
    void handOver();

    QTimer* handOverTimer_;
    QTimer* countTimer_;
    int16_t ticks_ = 0;
};

}  // namespace shell
