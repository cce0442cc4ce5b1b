// The chart panel: controls after the load, timers across paging and ruler, the ruler readout on
// the live values and its undoing, one paint per tick, and a live run over a real sample store
// with a screenshot.

#include <QAction>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QtTest>
#include <cmath>

#include "base/oledate.h"
#include "chart/chartpanel.h"
#include "chart/chartprint.h"
#include "chart/chartview.h"
#include "chart/outputdialog.h"
#include "chart/storesource.h"
#include "dbhelpers.h"
#include "fakesource.h"
#include "store/exportfile.h"
#include "store/recorder.h"
#include "store/store.h"

using chart::ChartPanel;
using chart_test::FakeSource;

namespace {

const QDateTime kEnd(QDate(2026, 3, 1), QTime(12, 0, 0));

QColor background(const QLabel* l) {
    return l->palette().color(QPalette::Window);
}

struct Rig {
    store::ManualClock clock{kEnd};
    FakeSource src;
    QList<QLabel*> liveLabels;
    std::unique_ptr<ChartPanel> panel;

    explicit Rig(int newest = 5000) {
        src.fill(newest, false, kEnd);
        panel = std::make_unique<ChartPanel>(src, clock, chart::LiveFeed{});
        for (int k = 0; k < 8; ++k) {
            auto* l = new QLabel(QStringLiteral("0"), panel.get());
            l->setAutoFillBackground(true);
            QPalette p = l->palette();
            p.setColor(QPalette::Window, QColor(255, 192, 255 - k));  // each its own colour
            l->setPalette(p);
            liveLabels << l;
        }
        panel->setLiveValueLabels(liveLabels);
        panel->load();
    }
    template <class T>
    T* find(const QString& name) {
        return panel->findChild<T*>(name);
    }
};

// Thirty records in a new file, one a second up to kEnd, channel 0 counting 1..30.
bool storeThirtySamples(const QString& path, float output1 = 0) {
    store::SampleStore writer(path, "test-writer");
    if (!writer.open(store::SampleStore::Access::Record)) return false;
    for (int id = 1; id <= 30; ++id) {
        store::Sample s;
        s.id = id;
        s.date = base::oleDate(kEnd.date());
        s.time = base::oleTime(kEnd.time().addSecs(id - 30));
        s.values[0] = float(id);
        s.values[8] = output1;
        if (!writer.storeSample(s)) return false;
    }
    return true;
}

}  // namespace

class TestChartPanel : public QObject {
    Q_OBJECT
  private slots:
    void controlsAfterLoad();
    void pagingStopsAndRestartsTheDisplayTimer();
    void rulerReadoutAndItsUndoing();
    void valueAxisWaitsForTheNextTicks();
    void onePaintPerTick();
    void liveRunOverTheStore();
    void fillsOnceTheStoreOpens();
    void readOnlyFileShowsItsHistory();
    void recordsStoredStaleComeBackWithoutAReading();
    void twoChambersKeepTheirOwnFiles();
    void outputDialogPrintsAndExports();
    void spanByKeyboardRulerAndBackToLive();
    void spanEndTakesATypedDate();
};

void TestChartPanel::controlsAfterLoad() {
    Rig r;
    QVERIFY(r.panel->displayTimer()->isActive());
    for (const char* name : {"Timer2", "Timer3"})
        QVERIFY(r.panel->findChild<QTimer*>(name)->isActive());
    QVERIFY(!r.find<QPushButton>("Command3")->isEnabled());
    QVERIFY(!r.find<QPushButton>("Command7")->isEnabled());
    QVERIFY(r.find<QPushButton>("Command2")->isEnabled());  // "F3 打印"
    QVERIFY(!r.find<QPushButton>("Command6")->isEnabled());
    QVERIFY(r.find<QPushButton>("Command4")->isEnabled());
    QVERIFY(r.find<QPushButton>("Command8")->isEnabled());
    QVERIFY(!r.find<QSlider>("hc")->isEnabled());
    QCOMPARE(r.find<QSlider>("hc")->value(), 0);
    QCOMPARE(r.find<QLineEdit>("YKD1")->text(), QString("0"));
    QCOMPARE(r.find<QLineEdit>("YKD")->text(), QString("60"));
    QCOMPARE(r.find<QLabel>("Label5_6")->text(), QString("60"));
    QCOMPARE(r.find<QLabel>("Label6_0")->text(), QString("-10"));
    QCOMPARE(r.find<QLabel>("Label6_6")->text(), QString("110"));
    // The header shows the first record drawn, slot 181, until the clock's first tick.
    QCOMPARE(r.find<QLabel>("Label2_10")->text(), kEnd.addSecs(-60).time().toString("HH:mm:ss"));
    QCOMPARE(r.find<QLabel>("Label4_0")->text(), kEnd.addSecs(-60).time().toString("HH:mm:ss"));
    QCOMPARE(r.find<QLabel>("Label7_0")->text(), QString("2026/03/01"));
    r.clock.set(QDateTime(QDate(2001, 3, 12), QTime(18, 42, 0)));
    r.panel->headerTick();
    QCOMPARE(r.find<QLabel>("Label2_9")->text(), QString("03-12-2001"));
    QCOMPARE(r.find<QLabel>("Label2_10")->text(), QString("18:42:00"));
    r.panel->displayTick();
    QCOMPARE(r.panel->model().slotStep(), 150.0f);
    // Every button and entry box is named for screen readers.
    for (auto* b : r.panel->findChildren<QPushButton*>())
        QVERIFY2(!b->accessibleName().isEmpty(), qPrintable(b->objectName()));
    for (auto* e : r.panel->findChildren<QLineEdit*>())
        QVERIFY2(!e->accessibleName().isEmpty(), qPrintable(e->objectName()));
}

void TestChartPanel::pagingStopsAndRestartsTheDisplayTimer() {
    Rig r;
    r.panel->pageOlder();
    QVERIFY(!r.panel->displayTimer()->isActive());
    QVERIFY(r.find<QPushButton>("Command7")->isEnabled());
    QCOMPARE(r.panel->model().historyPage(), 1);
    r.panel->pageNewer();
    QCOMPARE(r.panel->model().historyPage(), 0);
    QVERIFY(r.panel->displayTimer()->isActive());
    QVERIFY(!r.find<QPushButton>("Command7")->isEnabled());
}

void TestChartPanel::rulerReadoutAndItsUndoing() {
    Rig r;
    QList<QColor> before;
    for (auto* l : r.liveLabels)
        before << background(l);
    auto* hc = r.find<QSlider>("hc");
    auto* c5 = r.find<QPushButton>("Command5");
    r.panel->toggleRuler();
    QVERIFY(hc->isEnabled());
    QVERIFY(!r.panel->displayTimer()->isActive());
    QCOMPARE(c5->text(), QString("F4 复原"));
    hc->setValue(1500);  // slot 10 + 180: record 4949
    QCOMPARE(r.liveLabels[0]->text(), QString("4949"));
    const QColor yellow(255, 255, 0);
    for (auto* l : r.liveLabels)
        QCOMPARE(background(l), yellow);
    QCOMPARE(background(r.find<QLabel>("Label2_9")), yellow);
    QCOMPARE(r.find<QLabel>("Label2_10")->text(), kEnd.addSecs(-51).time().toString("HH:mm:ss"));

    r.panel->toggleRuler();
    QCOMPARE(hc->value(), 0);
    QVERIFY(!hc->isEnabled());
    QVERIFY(r.panel->displayTimer()->isActive());
    QCOMPARE(c5->text(), QString("F4 标尺"));
    r.panel->displayTick();
    for (int k = 0; k < r.liveLabels.size(); ++k)
        QCOMPARE(background(r.liveLabels[k]), before[k]);
    QCOMPARE(background(r.find<QLabel>("Label2_9")), QColor(128, 255, 128));
}

void TestChartPanel::valueAxisWaitsForTheNextTicks() {
    Rig r;
    r.find<QLineEdit>("YKD1")->setText("10.5");
    r.find<QLineEdit>("YKD")->setText("20.5");
    const int serial = r.panel->model().surfaceSerial();
    r.panel->applyValueAxis();
    QCOMPARE(int(r.panel->model().chartLow()), 10);
    QCOMPARE(int(r.panel->model().chartSpan()), 10);
    QCOMPARE(r.panel->model().surfaceSerial(), serial);
    QCOMPARE(r.find<QLabel>("Label5_6")->text(), QString("60"));
    r.panel->displayTick();
    QCOMPARE(r.find<QLabel>("Label5_6")->text(), QString("20"));
}

void TestChartPanel::onePaintPerTick() {
    Rig r;
    r.panel->resize(900, 600);
    r.panel->show();
    QVERIFY(QTest::qWaitForWindowExposed(r.panel.get()));
    QCoreApplication::processEvents();
    const int paints = r.panel->paintCount();
    QVERIFY(paints >= 1);
    // An appended record and the redraw tick in one pass of the event loop: one paint.
    r.panel->takeStoredSample({});
    r.panel->displayTick();
    r.panel->redrawTick();
    QCoreApplication::processEvents();
    QCOMPARE(r.panel->paintCount(), paints + 1);
    // A display tick with nothing new does not repaint the surface.
    r.panel->displayTick();
    QCoreApplication::processEvents();
    QCOMPARE(r.panel->paintCount(), paints + 1);
}

void TestChartPanel::liveRunOverTheStore() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath("Rdatabj.db");
    store::SampleStore writer(path, "test-recorder");
    QVERIFY(writer.open());
    // Ten minutes of history with a pause, then live records one a second.
    QDateTime t = kEnd.addSecs(-600);
    int id = 0;
    auto sampleAt = [](const QDateTime& at, int n) {
        store::Sample s;
        s.date = base::oleDate(at.date());
        s.time = base::oleTime(at.time());
        s.values = {float(30 + 20 * std::sin(n / 30.0)),
                    float(25 + 15 * std::cos(n / 40.0)),
                    45,
                    30,
                    0,
                    0,
                    0,
                    0,
                    float(n % 60 < 30 ? 100 : 0),
                    float(n % 90 < 20 ? 100 : 0)};
        return s;
    };
    for (int n = 0; n < 600; ++n) {
        if (n == 450) t = t.addSecs(400);  // a gap of almost seven minutes
        store::Sample s = sampleAt(t, n);
        s.id = ++id;
        QVERIFY(writer.storeSample(s));
        t = t.addSecs(1);
    }
    store::ManualClock clock(t);
    std::array<float, 10> live{};
    ChartPanel panel(path, clock, chart::LiveFeed{[&] { return live; }, {}});
    panel.resize(900, 620);
    panel.show();
    panel.load();
    writer.close();
    store::Recorder recorder(path, clock, [&] { return live; });
    panel.listenTo(&recorder);
    QVERIFY(panel.listening());
    QCOMPARE(panel.model().newestRecord(), 600);
    QCOMPARE(panel.model().samples()[0][241], sampleAt(t.addSecs(-1), 599).values[0]);

    // The recorder stores one sample a second; the chart appends it on the display tick after the
    // store has reported it, never before.
    for (int n = 600; n < 620; ++n) {
        clock.advance(1);
        live = sampleAt(clock.now(), n).values;
        recorder.tick();
        const int slot = panel.model().newestSlot();
        panel.displayTick();
        QCOMPARE(panel.model().newestSlot(), slot);
        QVERIFY(recorder.waitForStore());
        QCOMPARE(recorder.lastRecordNo(), n + 1);
        panel.displayTick();
        if (n < 619) QCOMPARE(int(panel.model().newestSlot()), 241 + (n - 599));
    }
    // The 20th record moved the window on to end at it.
    QCOMPARE(int(panel.model().newestSlot()), 241);
    QCOMPARE(panel.model().windowEnd(), 620);
    QCOMPARE(panel.model().times()[241], base::oleTime(clock.now().time()));
    int gaps = 0;
    for (auto g : panel.model().gapMarks())
        gaps += g > 0;
    QCOMPARE(gaps, 1);

    QVERIFY(QTest::qWaitForWindowExposed(&panel));
    QCoreApplication::processEvents();
    const QImage shot = panel.grab().toImage();
    shot.save("/tmp/velmars-chart.png");
    // The curves are there in their colours: PV1 red and PV2 blue pixels on the surface.
    const QImage surface = panel.view()->grab().toImage();
    int red = 0, blue = 0;
    for (int y = 0; y < surface.height(); ++y)
        for (int x = 0; x < surface.width(); ++x) {
            const QColor c = surface.pixelColor(x, y);
            red += c == QColor(255, 0, 0);
            blue += c == QColor(0, 0, 192);
        }
    QVERIFY(red > 100);
    QVERIFY(blue > 100);

    // Paging back through the store and returning.
    panel.pageOlder();
    QCOMPARE(panel.model().windowEnd(), 560);
    QCOMPARE(panel.model().samples()[0][321], sampleAt({}, 559).values[0]);
    panel.pageNewer();
    QCOMPARE(panel.model().windowEnd(), 620);
    panel.closeDatabase();
}

// A store that could not be opened when the chart loaded (here: the path names a file that is no
// database) is tried again every second; the live window fills as soon as it opens.
void TestChartPanel::fillsOnceTheStoreOpens() {
    QTemporaryDir dir;
    const QString path = dir.filePath("Rdatabj.db");
    {
        QFile junk(path);
        QVERIFY(junk.open(QIODevice::WriteOnly));
        junk.write(QByteArray(4096, 'x'));
    }
    store::ManualClock clock(kEnd);
    ChartPanel panel(path, clock, chart::LiveFeed{});
    panel.load();
    panel.redrawTick();
    QVERIFY(panel.model().liveWindowPending());
    QVERIFY(!panel.model().hasSample(241));

    QVERIFY(QFile::remove(path));
    QVERIFY(storeThirtySamples(path));
    panel.redrawTick();
    QVERIFY(!panel.model().liveWindowPending());
    QCOMPARE(panel.model().samples()[0][241], 30.0f);
    QCOMPARE(panel.findChild<QLabel*>("Label4_8")->text().isEmpty(), false);
    panel.closeDatabase();
}

// A file the program may not write (marked read-only) still shows its records and its archive.
// The ring keeps no stale mark; the chart's records are marked from the archive's stale seconds,
// so that a window loaded again draws them as a gap, as the live append did.
void TestChartPanel::recordsStoredStaleComeBackWithoutAReading() {
    QTemporaryDir dir;
    const QString path = dir.filePath("stale.db");
    {
        store::SampleStore writer(path, "test-stale-writer");
        QVERIFY(writer.open(store::SampleStore::Access::Record));
        for (int id = 1; id <= 30; ++id) {
            store::Sample s;
            s.id = id;
            s.date = base::oleDate(kEnd.date());
            s.time = base::oleTime(kEnd.time().addSecs(id - 30));
            s.values[0] = id >= 10 && id <= 12 ? 0.0f : float(id);
            s.stale = id >= 10 && id <= 12;
            QVERIFY(writer.storeSample(s));
        }
    }
    store::SampleStore reader(path, "test-stale-reader");
    QVERIFY(reader.open(store::SampleStore::Access::ReadOnly));
    chart::StoreChartSource source(reader);
    for (const store::Sample& s : source.loadBetween(1, 30))
        QCOMPARE(s.stale, s.id >= 10 && s.id <= 12);
    for (const store::Sample& s : source.loadNotBetween(13, 65500))
        QCOMPARE(s.stale, s.id >= 10 && s.id <= 12);
}

void TestChartPanel::readOnlyFileShowsItsHistory() {
    QTemporaryDir dir;
    const QString path = dir.filePath("Rdatabj.db");
    QVERIFY(storeThirtySamples(path));
    QVERIFY(QFile::setPermissions(
        path, QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther));
    store::ManualClock clock(kEnd);
    ChartPanel panel(path, clock, chart::LiveFeed{});
    panel.load();
    QVERIFY(!panel.model().liveWindowPending());
    QCOMPARE(panel.model().samples()[0][241], 30.0f);
    panel.showSpan(kEnd.toSecsSinceEpoch(), chart::SpanLength::Hour);
    QVERIFY(panel.spanView().loaded());
    QCOMPARE(panel.spanView().rowCount(), size_t(30));
    panel.closeDatabase();
    QCOMPARE(QFileInfo(path).permissions() & QFileDevice::WriteOwner, QFileDevice::Permissions());
}

// Two chambers' windows each hold a chart over their own file. Loading, redrawing and closing the
// second must leave the first reading its own records: back on the live chart after a span, and
// after the second has let go of its file.
void TestChartPanel::twoChambersKeepTheirOwnFiles() {
    QTemporaryDir dir;
    const QString pathA = dir.filePath("a.db");
    const QString pathB = dir.filePath("b.db");
    QVERIFY(storeThirtySamples(pathA, 10));
    QVERIFY(storeThirtySamples(pathB, 20));
    store::ManualClock clock(kEnd);
    ChartPanel a(pathA, clock, chart::LiveFeed{});
    a.load();
    QCOMPARE(a.model().samples()[8][241], 10.0f);
    {
        ChartPanel b(pathB, clock, chart::LiveFeed{});
        b.load();
        QCOMPARE(b.model().samples()[8][241], 20.0f);
        a.showSpan(kEnd.toSecsSinceEpoch(), chart::SpanLength::Hour);
        QCOMPARE(a.spanView().rowCount(), size_t(30));
        a.showLive();
        QCOMPARE(a.model().samples()[8][241], 10.0f);
        QVERIFY(!a.findChild<QLabel*>("Label4_8")->text().isEmpty());
    }
    // The second window's file is closed; the first reads on.
    a.showSpan(kEnd.toSecsSinceEpoch(), chart::SpanLength::Hour);
    QCOMPARE(a.spanView().rowCount(), size_t(30));
    a.showLive();
    QCOMPARE(a.model().newestRecord(), 30);
    QCOMPARE(a.model().samples()[8][241], 10.0f);
    QVERIFY(!a.findChild<QLabel*>("Label4_8")->text().isEmpty());
    a.closeDatabase();
}

// "F3 打印" opens the output dialog: a PDF page drawn as vectors, a PNG picture, and the records
// the chart shows exported to CSV by default.
void TestChartPanel::outputDialogPrintsAndExports() {
    QTemporaryDir dir;
    const QString path = dir.filePath("Rdatabj.db");
    QVERIFY(storeThirtySamples(path, 100));
    store::ManualClock clock(kEnd);
    ChartPanel panel(path, clock, chart::LiveFeed{{}, [] { return std::pair<int, int>{0, 7}; }});
    panel.load();
    QTest::mouseClick(panel.findChild<QPushButton*>("Command2"), Qt::LeftButton);
    chart::OutputDialog* d = panel.outputDialog();
    QVERIFY(d && d->isVisible());

    const QString pdf = dir.filePath("chart.pdf");
    QVERIFY(d->savePdf(pdf));
    const QByteArray bytes = record_test::fileBytes(pdf);
    QVERIFY(bytes.startsWith("%PDF"));
    QVERIFY(bytes.size() > 2000);
    QVERIFY(!bytes.contains("/Subtype /Image"));  // lines, not a picture of the screen

    const QString png = dir.filePath("chart.png");
    QVERIFY(d->savePng(png));
    const QImage image(png);
    int red = 0;
    for (int y = 0; y < image.height(); y += 2)
        for (int x = 0; x < image.width(); x += 2)
            red += image.pixelColor(x, y) == QColor(255, 0, 0);
    QVERIFY(red > 20);
    QVERIFY(chart::chartTitle(7, 0, panel.model()).startsWith("仪表地址 7"));

    const QString csv = dir.filePath("out.csv");
    QSignalSpy done(d, &chart::OutputDialog::exportFinished);
    d->exportCsv(csv);
    QVERIFY(done.wait(10000));
    QVERIFY(done.at(0).at(0).toBool());
    // The header and the 29 records drawn (the newest, in slot 241, is drawn once the next comes).
    QCOMPARE(record_test::fileBytes(csv).count("\r\n"), 30);

    // The hour up to the newest record, read from the store's archive: all thirty seconds are
    // drawn and exported.
    panel.showSpan(kEnd.toSecsSinceEpoch(), chart::SpanLength::Hour);
    QVERIFY(panel.spanView().loaded());
    QCOMPARE(panel.spanView().rowCount(), size_t(30));
    d->close();
    QTest::keyClick(panel.findChild<QPushButton*>("Command2"), Qt::Key_Space);
    QCOMPARE(d->findChild<QDateTimeEdit*>("ExportFrom")->dateTime(), kEnd.addSecs(-3599));
    d->exportCsv(csv);
    QVERIFY(done.wait(10000));
    QVERIFY(done.at(1).at(0).toBool());
    QCOMPARE(record_test::fileBytes(csv).count("\r\n"), 31);

    // Refused by the chamber, nothing is painted and the dialog says why.
    const QString refused = dir.filePath("refused.png");
    d->setExporter([](const QString&, const QString&, const store::ExportWrite&) {
        return QStringLiteral("请先登录");
    });
    QVERIFY(!d->savePng(refused));
    QVERIFY(!QFileInfo::exists(refused));
    QCOMPARE(d->statusText(), QString("未导出：请先登录"));

    // The dialog closes once the file is written and before it heard so: the file is told of
    // all the same (the audit trail's row).
    QStringList told;
    d->setExporter(
        [&told](const QString& what, const QString& file, const store::ExportWrite& write) {
            write([&told, what, file](bool written) {
                if (written) told << what + u' ' + file;
            });
            return QString();
        });
    const QString toldPdf = dir.filePath("told.pdf");
    QVERIFY(d->savePdf(toldPdf));
    QCOMPARE(told, QStringList{"pdf " + toldPdf});
    const QString late = dir.filePath("late.csv");
    d->exportCsv(late);
    for (int i = 0; i < 3000 && !QFileInfo::exists(late); ++i)
        QThread::msleep(10);
    QVERIFY(QFileInfo::exists(late));
    delete d;
    QTRY_COMPARE(told, QStringList({"pdf " + toldPdf, "csv " + late}));
    panel.closeDatabase();
}

// A day of the archive chosen and shown by keyboard, its time labels, the ruler reading a
// one-second spike from the band, paging and span lengths, print and export of the span, and F6
// back to exactly the live chart; Tab and the window's Esc pass the new controls.
void TestChartPanel::spanByKeyboardRulerAndBackToLive() {
    Rig r;
    Rig reference;
    chart_test::FakeSpanSource archive;
    const int64_t end = kEnd.toSecsSinceEpoch();
    for (int64_t t = end - 3 * 86400; t <= end; t += 10)
        archive.add(t, 20 + float(t % 7), 30);
    const int64_t spikeAt = end - 43200 + 3;  // noon of the day before, one second
    archive.add(spikeAt, 95, 30);
    std::sort(archive.seconds.begin(), archive.seconds.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    r.panel->setSpanSource(archive);
    int escapes = 0;
    auto* esc = new QAction(r.panel.get());
    esc->setShortcut(Qt::Key_Escape);
    esc->setShortcutContext(Qt::WindowShortcut);
    connect(esc, &QAction::triggered, [&] { ++escapes; });
    r.panel->addAction(esc);
    r.panel->resize(1100, 620);
    r.panel->show();
    r.panel->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(r.panel.get()));
    auto focused = [] {
        QWidget* f = QApplication::focusWidget();
        while (f && f->objectName().isEmpty())
            f = f->parentWidget();
        return f ? f->objectName() : QString();
    };
    auto key = [](Qt::Key k) { QTest::keyClick(QApplication::focusWidget(), k); };

    // The end follows the clock: it is now when "显示" is pressed.
    r.clock.set(kEnd.addSecs(-600));
    r.panel->headerTick();
    QCOMPARE(r.find<QDateTimeEdit>("SpanEnd")->dateTime(), kEnd.addSecs(-600));
    r.clock.set(kEnd);
    r.panel->headerTick();
    QCOMPARE(r.find<QDateTimeEdit>("SpanEnd")->dateTime(), kEnd);
    // Tab from the last tool through the span controls to the value axis, and back.
    r.find<QPushButton>("Command8")->setFocus(Qt::TabFocusReason);
    QStringList order;
    for (int i = 0; i < 4; ++i) {
        key(Qt::Key_Tab);
        order << focused();
    }
    QCOMPARE(order, (QStringList{"SpanEnd", "SpanLength", "SpanShow", "YKD1"}));  // 实时 is off
    key(Qt::Key_Backtab);
    key(Qt::Key_Backtab);
    key(Qt::Key_Backtab);
    QCOMPARE(focused(), QString("SpanEnd"));
    key(Qt::Key_Escape);
    QCOMPARE(escapes, 1);
    key(Qt::Key_Tab);
    key(Qt::Key_Down);  // "1 天" to "1 周" and back
    QCOMPARE(r.find<QComboBox>("SpanLength")->currentText(), QString("1 周"));
    key(Qt::Key_Up);
    key(Qt::Key_Tab);
    key(Qt::Key_Space);  // "显示"
    QVERIFY(r.panel->spanShown());
    const chart::SpanView& span = r.panel->spanView();
    QCOMPARE(span.from(), end - 86399);
    QCOMPARE(span.to(), end);
    QVERIFY(r.find<QPushButton>("SpanLive")->isEnabled());
    // The first and last time labels read the span's ends, centred on the surface's edges.
    auto* frame = r.find<QFrame>("pt0");
    auto labelAt = [&](int i) {
        const QLabel* time = r.find<QLabel>(QString("Label4_%1").arg(i));
        return std::pair{r.find<QLabel>(QString("Label7_%1").arg(i))->text() + " " + time->text(),
                         time->geometry().center().x()};
    };
    const QString form = "yyyy-MM-dd HH:mm:ss";
    QCOMPARE(labelAt(0).first, QDateTime::fromSecsSinceEpoch(end - 86399).toString(form));
    QCOMPARE(labelAt(8).first, kEnd.toString(form));
    QVERIFY(std::abs(labelAt(0).second - frame->geometry().left()) <= 3);
    QVERIFY(std::abs(labelAt(8).second - frame->geometry().right()) <= 3);
    // The surface paints the span: PV1's band in its lighter red, the mean over it.
    QCoreApplication::processEvents();
    const QImage shot = r.panel->view()->grab().toImage();
    r.panel->grab().save("/tmp/velmars-span.png");
    int band = 0;
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x)
            band += shot.pixelColor(x, y) == QColor(255, 153, 153);
    QVERIFY(band > 50);

    // F4: the ruler at the spike's column reads the band, F4 again puts it away (the keys are
    // the window's even from the span's list and entry).
    r.find<QComboBox>("SpanLength")->setFocus();
    key(Qt::Key_F4);
    auto* hc = r.find<QSlider>("hc");
    QVERIFY(hc->isEnabled() && hc->hasFocus());
    QCOMPARE(r.find<QPushButton>("Command5")->text(), QString("F4 复原"));
    hc->setValue(6000);
    auto* readout = r.find<QLabel>("SpanReadout");
    QVERIFY(readout->isVisible());
    QVERIFY2(readout->text().contains("PV1  最小 20  最大 95"), qPrintable(readout->text()));
    QVERIFY(readout->text().contains("PV2  最小 30  最大 30  平均 30.00"));
    QVERIFY(!r.panel->rulerActive());  // the live values keep showing the instrument's
    key(Qt::Key_F4);
    QVERIFY(!readout->isVisible() && !hc->isEnabled());
    r.find<QDateTimeEdit>("SpanEnd")->setFocus();
    key(Qt::Key_F4);
    QVERIFY(readout->isVisible());
    key(Qt::Key_F4);
    QVERIFY(!readout->isVisible());

    // F3: the page is the span's, and the export's range is the span.
    key(Qt::Key_F3);
    chart::OutputDialog* d = r.panel->outputDialog();
    QVERIFY(d);
    QCOMPARE(d->findChild<QDateTimeEdit*>("ExportFrom")->dateTime().toSecsSinceEpoch(),
             end - 86399);
    QCOMPARE(d->findChild<QDateTimeEdit*>("ExportTo")->dateTime().toSecsSinceEpoch(), end);
    const QImage page =
        chart::renderChartImage(QSize(1200, 750), chart::spanPicture(span, r.panel->model()), "t");
    QCOMPARE(page.pixelColor(page.width() - 60, page.height() / 2).isValid(), true);
    d->close();
    r.panel->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(r.panel.get()));
    r.find<QPushButton>("SpanShow")->setFocus();

    // F1 and F2 choose the span's length, F7 and F6 page by one span; F7 stops at the archive's
    // start, F6 past now is the live chart, exactly as the load drew it.
    key(Qt::Key_F1);
    QCOMPARE(span.from(), end - 7 * 86400 + 1);
    QVERIFY(!r.find<QPushButton>("Command8")->isEnabled());  // nothing stored before
    key(Qt::Key_F2);
    QCOMPARE(span.from(), end - 86399);
    key(Qt::Key_F7);
    QCOMPARE(span.to(), end - 86400);
    key(Qt::Key_F6);
    QCOMPARE(span.to(), end);
    key(Qt::Key_F6);
    QVERIFY(!r.panel->spanShown());
    const auto& got = r.panel->model().surface();
    const auto& want = reference.panel->model().surface();
    QCOMPARE(got.size(), want.size());
    for (size_t i = 0; i < got.size(); ++i)
        QVERIFY(got[i].x1 == want[i].x1 && got[i].y1 == want[i].y1 && got[i].x2 == want[i].x2 &&
                got[i].y2 == want[i].y2 && got[i].pen == want[i].pen);
    for (int i = 0; i < 9; ++i)
        QCOMPARE(r.find<QLabel>(QString("Label4_%1").arg(i))->text(),
                 reference.find<QLabel>(QString("Label4_%1").arg(i))->text());
    QVERIFY(!r.find<QPushButton>("SpanLive")->isEnabled());
    QVERIFY(r.panel->displayTimer()->isActive());
    QVERIFY(labelAt(0).second - frame->geometry().left() > 5);  // the live chart's places

    // A span of a year without data says so over the surface.
    r.panel->showSpan(end - 365 * 86400, chart::SpanLength::Month);
    QVERIFY(readout->isVisible());
    QCOMPARE(readout->text(), QString("无数据"));
    QVERIFY(labelAt(0).first.startsWith("2025-"));
}

// A date and time typed into the span's end after Tab or a click is what it holds: the
// separators stay in the entry, a click's section takes the keys, and nothing else changes.
void TestChartPanel::spanEndTakesATypedDate() {
    Rig r;
    r.panel->resize(1100, 620);
    r.panel->show();
    r.panel->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(r.panel.get()));
    auto* edit = r.find<QDateTimeEdit>("SpanEnd");
    auto* field = edit->findChild<QLineEdit*>();
    auto* length = r.find<QComboBox>("SpanLength");
    // Entered by Tab from the last tool (x < 0) or by a click at x.
    const QDateTime typed(QDate(2026, 12, 8), QTime(12, 0));
    const struct {
        int x;
        const char* keys;
        QDateTime want;
    } entries[] = {
        {-1, "2026-12-08 12:00", typed},
        {3, "2026-12-08 12:00", typed},
        {field->fontMetrics().horizontalAdvance("2026-03-01 12:0") + 2, "30", kEnd.addSecs(1800)},
    };
    for (const auto& e : entries) {
        r.panel->setFocus();
        edit->setDateTime(kEnd);
        if (e.x < 0) {
            r.find<QPushButton>("Command8")->setFocus(Qt::TabFocusReason);
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        } else {
            QTest::mouseClick(field, Qt::LeftButton, {}, QPoint(e.x, field->height() / 2));
        }
        QTest::keyClicks(QApplication::focusWidget(), e.keys);
        QVERIFY(edit->hasFocus());
        QCOMPARE(edit->dateTime(), e.want);
        QCOMPARE(length->currentText(), QString("1 天"));
    }
}

QTEST_MAIN(TestChartPanel)
#include "test_chartpanel.moc"
