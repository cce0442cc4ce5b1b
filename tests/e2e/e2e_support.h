#pragma once
// What the end-to-end scenarios share: the simulated instrument behind a port name the test
// controls, the program started in-process on it, control lookup by name, waiting in a real event
// loop, and a probe of the UI thread's event-loop gaps.

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <ctime>
#include <functional>
#include <memory>
#include <string>

#include "../support/qtcomplaints.h"
#include "shell/application.h"
#include "shell/mainwindow.h"
#include "sim/server.h"

namespace e2e {

// Runs the event loop for ms milliseconds. Unlike QTest::qWait, which sleeps in slices of 10 ms
// between its event passes, this keeps the loop waiting on events, so the probe below measures the
// program and not the test harness.
inline void runFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

// Runs the event loop until pred() holds or timeoutMs has passed; true when pred() held.
inline bool runUntil(const std::function<bool()>& pred, int timeoutMs) {
    if (pred()) return true;
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (pred()) loop.quit();
    });
    QTimer::singleShot(timeoutMs, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    poll.start();
    loop.exec();
    return pred();
}

// The longest time the UI thread's event loop went without running a 1 ms timer: by the wall clock,
// by the wall clock less the time the thread stood ready but waited for a core (the kernel's
// run-queue delay), and by the thread's own CPU time. On a loaded machine the wall-clock gap also
// holds the wait for a core; the held gap is what the program itself spent, working or blocked
// (a read on the serial line would show there), and the CPU-time gap is only its work.
class LoopGapProbe : public QObject {
  public:
    LoopGapProbe() {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setInterval(1);
        connect(&timer_, &QTimer::timeout, this, [this] {
            const qint64 gap = since_.restart();
            const double cpu = threadCpuMs();
            const double busy = cpu - lastCpu_;
            lastCpu_ = cpu;
            const double queued = runQueueMs();
            const double held = double(gap) - (queued - lastQueued_);
            lastQueued_ = queued;
            longest_ = std::max(longest_, gap);
            longestBusy_ = std::max(longestBusy_, busy);
            longestHeld_ = std::max(longestHeld_, held);
            if (gap >= 8 && qEnvironmentVariableIsSet("E2E_GAPS"))
                qInfo("gap %lld ms (busy %.1f ms) at %lld ms", gap, busy, total_.elapsed());
        });
    }
    void start() {
        longest_ = 0;
        longestBusy_ = 0;
        longestHeld_ = 0;
        lastCpu_ = threadCpuMs();
        lastQueued_ = runQueueMs();
        since_.start();
        total_.start();
        timer_.start();
    }
    void stop() { timer_.stop(); }
    qint64 longestMs() const { return longest_; }
    double longestBusyMs() const { return longestBusy_; }
    double longestHeldMs() const { return longestHeld_; }

  private:
    // Time this thread has stood on the run queue, from /proc (0 where the kernel keeps no
    // scheduler statistics: the held gap is then the wall-clock gap).
    static double runQueueMs() {
        QFile f(QStringLiteral("/proc/thread-self/schedstat"));
        if (!f.open(QIODevice::ReadOnly)) return 0;
        const QList<QByteArray> fields = f.readAll().simplified().split(' ');
        return fields.size() >= 2 ? fields[1].toDouble() / 1e6 : 0;
    }
    static double threadCpuMs() {
        timespec ts{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
        return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
    }
    QTimer timer_;
    QElapsedTimer since_;
    QElapsedTimer total_;
    qint64 longest_ = 0;
    double longestBusy_ = 0;
    double longestHeld_ = 0;
    double lastCpu_ = 0;
    double lastQueued_ = 0;
};

// The simulated instrument on a pseudo-terminal, reached through a symbolic link the test owns
// (where there are no pseudo-terminals, through its loopback gateway).
// A restarted server gets a new pty; repoint() makes the link name it, so the program's port 1
// names the instrument again, as a re-plugged cable would.
class SimLine {
  public:
    explicit SimLine(sim::ServerOptions options = {}) : server_(options) {
        link_ = dir_.filePath(QStringLiteral("instrument"));
    }
    ~SimLine() { server_.stop(); }

    // Starts the server (a new pty) and points the link at it.
    bool start(QString* why = nullptr) {
        std::string error;
        if (!server_.start(&error)) {
            if (why) *why = QString::fromStdString(error);
            return false;
        }
        return repoint(why);
    }
    bool repoint(QString* why = nullptr) {
        // Without pseudo-terminals the server is a loopback gateway, which keeps its port when
        // restarted: the link is its address.
        if (server_.ptyPath().empty()) {
            link_ = QString::fromStdString(server_.device());
            return true;
        }
        QFile::remove(link_);
        if (!QFile::link(QString::fromStdString(server_.ptyPath()), link_)) {
            if (why) *why = QStringLiteral("cannot link %1").arg(link_);
            return false;
        }
        return true;
    }
    sim::SimServer& server() { return server_; }
    QString device() const { return link_; }

    // A still process: no noise, both loops at the given process values.
    void holdProcess(double pv1, double pv2) {
        server_.withInstrument([&](sim::Instrument& i) {
            i.setNoise(0);
            i.setProcessValue(1, pv1);
            i.setProcessValue(2, pv2);
            return 0;
        });
    }

  private:
    QTemporaryDir dir_;
    QString link_;
    sim::SimServer server_;
};

// The program started in-process, as main() starts it but without the start-up window's wait.
class Program {
  public:
    explicit Program(shell::Options options, const store::Clock* clock = nullptr) {
        testsupport::watchQtComplaints();
        complaintsBefore_ = testsupport::qtComplaints().size();
        if (options.db.isEmpty()) options.db = dir_.filePath(QStringLiteral("Rdatabj.db"));
        app_ = std::make_unique<shell::Application>(options, nullptr, clock);
        QObject::connect(app_.get(), &shell::Application::exited, [this] { exited_ = true; });
        app_->startWithoutSplash();
    }
    // Qt complaining about how the program called it, from its start to its end, fails the test.
    ~Program() {
        app_.reset();
        const QStringList complaints = testsupport::qtComplaints(complaintsBefore_);
        if (!complaints.isEmpty())
            QTest::qFail(qPrintable(QStringLiteral("Qt complained: ") +
                                    complaints.join(QStringLiteral(" | "))),
                         __FILE__, __LINE__);
    }

    static shell::Options onDevice(const QString& device) {
        shell::Options o;
        o.ports.insert(1, device);
        return o;
    }

    shell::Application& app() { return *app_; }
    shell::MainWindow* main() const { return app_->mainWindow(); }
    bool exited() const { return exited_; }

  private:
    QTemporaryDir dir_;
    std::unique_ptr<shell::Application> app_;
    bool exited_ = false;
    qsizetype complaintsBefore_ = 0;
};

// A control by its objectName under root; fails the test when missing.
template <class T>
T* control(QWidget* root, const QString& name) {
    T* w = root ? root->findChild<T*>(name) : nullptr;
    if (!w) qWarning("missing control %s", qPrintable(name));
    return w;
}

inline QString labelText(QWidget* root, const QString& name) {
    auto* l = control<QLabel>(root, name);
    return l ? l->text() : QStringLiteral("<missing %1>").arg(name);
}

// What an operator does to replace an entry box's text: click into it, select all, type.
inline void typeInto(QLineEdit* box, const QString& text) {
    QTest::mouseClick(box, Qt::LeftButton);
    box->setFocus(Qt::MouseFocusReason);
    QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(box, text);
}

// Picks a list entry by its exact text, as a click in the drop-down list would.
inline bool pick(QComboBox* combo, const QString& entry) {
    const int i = combo->findText(entry, Qt::MatchExactly);
    if (i < 0) return false;
    combo->setFocus(Qt::MouseFocusReason);
    combo->setCurrentIndex(i);
    return true;
}

inline void click(QWidget* root, const QString& name) {
    if (auto* b = control<QAbstractButton>(root, name)) QTest::mouseClick(b, Qt::LeftButton);
}

// "退出", then "退出" again in the question that asks first.
inline void leaveProgram(QWidget* mainWindow) {
    click(mainWindow, "Command1");
    click(mainWindow, "ExitQuestionQuit");
}

}  // namespace e2e
