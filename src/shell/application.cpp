#include "shell/application.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTimer>
#include <iostream>

#include "chamber/chamber.h"
#include "shell/mainwindow.h"
#include "shell/settings.h"
#include "shell/shellos.h"
#include "shell/splashwindow.h"
#include "sim/server.h"

namespace shell {

namespace {

QDateTime wholeSecondsNow() {
    return record::SystemClock().now();
}

// A clock that starts at the current time and runs a given factor faster.
class FastClock : public record::Clock {
  public:
    explicit FastClock(double factor) : start_(wholeSecondsNow()), factor_(factor) {
        elapsed_.start();
    }
    QDateTime now() const override {
        const qint64 secs = static_cast<qint64>(elapsed_.elapsed() * factor_ / 1000.0);
        return start_.addSecs(secs);
    }

  private:
    QDateTime start_;
    QElapsedTimer elapsed_;
    double factor_;
};

}  // namespace

void addEventTexts() {
    record::addEventTexts(&alert::eventText);
    record::addEventTexts(&record::forward::eventText);
}

Application::Application(Options options, std::unique_ptr<comm::ModbusRTU> bus,
                         const record::Clock* clock, QObject* parent)
    : QObject(parent),
      options_(std::move(options)),
      pendingBus_(std::move(bus)),
      clock_(clock ? clock : &systemClock_) {
    addEventTexts();
    if (!clock && options_.clockSpeed > 1.0) {
        fastClock_ = std::make_unique<FastClock>(options_.clockSpeed);
        clock_ = fastClock_.get();
    }
    setProfile(options_.profile);
}

Application::~Application() = default;

QString Application::defaultDatabasePath(const QString& profile) {
    return QDir(os::dataFolder())
        .filePath(profile.isEmpty() ? QStringLiteral("Rdatabj.db")
                                    : QStringLiteral("Rdatabj-%1.db").arg(profile));
}

bool Application::makeChambers() {
    if (!chambers_.empty()) return true;
    comm::PortMap ports;
    for (auto it = options_.ports.cbegin(); it != options_.ports.cend(); ++it)
        ports.setExplicit(it.key(), it.value());
    if (options_.simulate) {
        sim::ServerOptions simOptions;
        simOptions.demoStart = true;
        if (options_.logWrites)  // the server's thread writes whole lines
            simOptions.writeLog = [](const std::string& line) { std::cout << line << std::endl; };
        sim_ = std::make_unique<sim::SimServer>(simOptions);
        std::string why;
        if (!sim_->start(&why)) {
            error_ = QStringLiteral("simulated instrument: %1").arg(QString::fromStdString(why));
            return false;
        }
        if (!ports.hasExplicit(1)) ports.setExplicit(1, QString::fromStdString(sim_->device()));
    }
    chamber::Setup setup;
    setup.dbPath = options_.db.isEmpty() ? defaultDatabasePath(options_.profile) : options_.db;
    setup.ports = std::move(ports);
    setup.bus = std::move(pendingBus_);
    setup.clock = clock_;
    setup.settings = settingsFile;
    setup.given = {options_.forward,
                   options_.station,
                   {options_.notifyMail, options_.notifyFrom, options_.notifyTo,
                    options_.notifyWebhook, options_.notifySilentAfter},
                   options_.keepDays,
                   options_.keepFreeGb};
    chambers_.push_back(std::make_unique<chamber::Chamber>(std::move(setup)));
    return true;
}

bool Application::start() {
    if (!makeChambers()) return false;

    if (options_.quitAfter) {
        QTimer::singleShot(static_cast<int>(*options_.quitAfter * 1000), this, [this] {
            // A slow start (a loaded machine) may still show the splash: the program then leaves
            // as soon as the main window is up, through the same path and with its screenshot.
            const auto quit = [this] {
                if (!options_.screenshot.isEmpty()) main_->grab().save(options_.screenshot);
                main_->exitProgram();
            };
            if (main_)
                quit();
            else
                connect(this, &Application::mainWindowShown, this, quit, Qt::SingleShotConnection);
        });
    }
    splash_ = new SplashWindow;
    splash_->setAttribute(Qt::WA_DeleteOnClose);
    connect(splash_, &SplashWindow::finished, this, [this] {
        if (splash_) splash_->close();
        showMainWindow();
    });
    splash_->show();
    splash_->start();
    return true;
}

bool Application::startWithoutSplash() {
    if (!makeChambers()) return false;
    showMainWindow();
    return true;
}

void Application::showMainWindow() {
    if (main_) return;
    chamber::Chamber& chamber = *chambers_.front();
    chamber.open();
    main_ = std::make_unique<MainWindow>(chamber);
    main_->setExitAction([this] { leave(); });
    if (!options_.profile.isEmpty())
        main_->setWindowTitle(main_->windowTitle() + QStringLiteral("— ") + options_.profile);
    main_->fitToScreen();
    main_->show();
    main_->load();
    chamber.start();
    if (options_.connect) main_->openPort();
    emit mainWindowShown();
}

void Application::leave() {
    emit exited();
    QCoreApplication::exit(0);
}

}  // namespace shell
