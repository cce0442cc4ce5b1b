#pragma once
// The wall clock, behind an interface so that tests can set the time and run it fast.

#include <QDateTime>

namespace store {

class Clock {
  public:
    virtual ~Clock() = default;
    // Current local date and time, whole seconds.
    virtual QDateTime now() const = 0;
};

class SystemClock : public Clock {
  public:
    QDateTime now() const override {
        QDateTime t = QDateTime::currentDateTime();
        t.setTime(QTime(t.time().hour(), t.time().minute(), t.time().second()));
        return t;
    }
};

// A clock the test moves by hand.
class ManualClock : public Clock {
  public:
    explicit ManualClock(QDateTime t = QDateTime(QDate(2026, 1, 1), QTime(0, 0, 0))) : t_(t) {}
    QDateTime now() const override { return t_; }
    void set(const QDateTime& t) { t_ = t; }
    void advance(int secs) { t_ = t_.addSecs(secs); }

  private:
    QDateTime t_;
};

}  // namespace store
