// "签名" in the window "试验": shown only with access control on, it signs the selected ended run
// through the dialog, the password checked off the window's thread against a real user store; a
// wrong one leaves the dialog open with the store's message and stores nothing.
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSettings>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include "auth/guard.h"
#include "auth/userstore.h"
#include "base/oledate.h"
#include "chamber/chamber.h"
#include "report/signatures.h"
#include "runs/runcontrol.h"
#include "runs/runwindow.h"
#include "store/clock.h"
#include "store/store.h"
#include "ui/signdialog.h"

class RunSignTest : public QObject {
    Q_OBJECT
  private slots:
    void signsTheSelectedRun();
};

void RunSignTest::signsTheSelectedRun() {
    QTemporaryDir dir;
    const QString db = dir.filePath("chamber.db"), users = dir.filePath("users.db");
    const QDateTime start(QDate(2026, 3, 2), QTime(9, 0, 0));
    {
        store::SampleStore store(db, "make");
        QVERIFY(store.open(store::SampleStore::Access::Record));
        std::vector<store::Sample> samples;
        for (int n = 0; n < 10; ++n) {
            const QDateTime t = start.addSecs(n);
            samples.push_back(
                {0, base::oleDate(t.date()), base::oleTime(t.time()), {}, t.toSecsSinceEpoch()});
        }
        QVERIFY(store.archiveBatch(samples));
        runs::RunStore runs(db, "make-runs");
        QVERIFY(runs.open());
        runs::Run run;
        run.name = "R1";
        run.start = start.toSecsSinceEpoch();
        QVERIFY(runs.start(run));
        QVERIFY(runs.stop(run.start + 9));
    }
    {
        auth::UserStore store(users, "make-users");
        QCOMPARE(store.open(true), auth::StoreState::Ready);
        QCOMPARE(store.createFirstAdmin("qa", "李 质量", "Sup-Secret-77"), auth::Outcome::Done);
    }
    auth::Guard guard;
    store::SystemClock clock;
    // The chamber of the file, never connected: the window reads its runs and asks it the rest.
    chamber::Setup setup;
    setup.dbPath = db;
    setup.clock = &clock;
    const QString ini = dir.filePath("velmars.ini");
    setup.settings = [ini] { return std::make_unique<QSettings>(ini, QSettings::IniFormat); };
    chamber::Chamber chamber(std::move(setup));
    chamber.open();
    chamber.start();
    const runs::RunControl& control = *chamber.runs();
    QTRY_VERIFY(control.loaded());
    runs::RunWindow w(chamber, control);
    w.setUserStore(users);
    w.show();
    auto* sign = w.findChild<QPushButton*>("RunSign");
    QVERIFY(sign);
    QTRY_COMPARE(w.table()->rowCount(), 1);
    w.table()->selectRow(0);
    QVERIFY(!sign->isVisible());  // access control off: nobody signs
    guard.setStanding({true, true, auth::Role::Supervisor, false});
    QTRY_VERIFY(sign->isVisible() && sign->isEnabled());

    sign->click();
    QPointer<ui::SignDialog> dialog = w.findChild<ui::SignDialog*>();  // deletes itself once signed
    QVERIFY(dialog);
    const auto submit = [&](const QString& password) {
        dialog->findChild<QLineEdit*>("SignUser")->setText("qa");
        dialog->findChild<QLineEdit*>("SignPassword")->setText(password);
        dialog->findChild<QComboBox*>("SignMeaning")->setCurrentIndex(1);
        dialog->findChild<QPushButton*>("SignButton")->click();
    };
    const auto stored = [&] {
        report::SignatureStore signatures(db, "look");
        return signatures.list(report::runSubject(control.runs().front().id)).value();
    };
    submit("Sup-Secret-78");
    QTRY_COMPARE_WITH_TIMEOUT(dialog->findChild<QLabel*>("SignMessage")->text(),
                              QString("用户名或密码错误"), 20000);
    QVERIFY(dialog->isVisible());
    QVERIFY(stored().empty());
    submit("Sup-Secret-77");
    QTRY_VERIFY_WITH_TIMEOUT(!dialog || !dialog->isVisible(), 20000);
    const auto signatures = stored();
    QCOMPARE(signatures.size(), size_t(1));
    QCOMPARE(signatures.front().fullName, QString("李 质量"));
    QCOMPARE(signatures.front().meaning, report::Meaning::Reviewed);
}

QTEST_MAIN(RunSignTest)
#include "test_run_sign.moc"
