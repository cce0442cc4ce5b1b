#include "overview/overviewwindow.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPaintEvent>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <QtMath>
#include <algorithm>
#include <utility>

#include "alert/alertbar.h"
#include "auth/guard.h"
#include "auth/reason.h"
#include "base/tr.h"
#include "chamber/chamber.h"
#include "ui/aboutdialog.h"
#include "ui/widgets.h"

namespace overview {

namespace {

constexpr int kColumns = 4;

QString toneWord(Tone tone) {
    switch (tone) {
        case Tone::Alarm:
            return base::Tr::tr("报警");
        case Tone::Unacked:
            return base::Tr::tr("报警未确认");
        case Tone::Silent:
            return base::Tr::tr("无通讯");
        case Tone::Normal:
            break;
    }
    return base::Tr::tr("正常");
}

}  // namespace

TileWidget::TileWidget(QWidget* parent) : QFrame(parent) {
    setFrameShape(QFrame::Box);
    setLineWidth(1);
    setFocusPolicy(Qt::StrongFocus);
    setAutoFillBackground(true);
    setMinimumSize(280, 136);
    setMaximumSize(360, 180);
    measure();
}

void TileWidget::measure() {
    // The name stands out; the rest is read at a glance from a step back.
    nameFont_ = font();
    nameFont_.setPointSizeF(nameFont_.pointSizeF() * 1.2);
    nameFont_.setBold(true);
    nameHeight_ = QFontMetrics(nameFont_).height();
    lineHeight_ = fontMetrics().lineSpacing();
    nameSpace_ = QFontMetricsF(nameFont_).horizontalAdvance(u' ');
    space_ = QFontMetricsF(font()).horizontalAdvance(u' ');
}

void TileWidget::changeEvent(QEvent* e) {
    if (e->type() == QEvent::FontChange) {
        // Every word is laid out again in the new font.
        measure();
        const QList<Line> old = std::exchange(lines_, QList<Line>(lines_.size()));
        for (int i = 0; i < old.size(); ++i)
            setLine(i, old[i].text);
        update();
    }
    QFrame::changeEvent(e);
}

QRect TileWidget::lineRect(int i) const {
    const QRect r = contentsRect().marginsRemoved(kPadding);
    const int top = i == 0 ? 0 : nameHeight_ + (i - 1) * lineHeight_;
    return {r.x(), r.y() + top, r.width(), i == 0 ? nameHeight_ : lineHeight_};
}

QRect TileWidget::wordRect(int i, const Word& w) const {
    const QRect row = lineRect(i);
    return QRectF(row.x() + w.x, row.y(), w.width, row.height()).toAlignedRect();
}

QSize TileWidget::sizeHint() const {
    // The name over the other lines.
    qreal width = 0;
    for (const Line& line : lines_)
        if (!line.words.isEmpty())
            width = std::max(width, line.words.last().x + line.words.last().width);
    const QMargins m = contentsMargins() + kPadding;
    const int lines = static_cast<int>(std::max<qsizetype>(lines_.size(), 1));
    return {qCeil(width) + m.left() + m.right(),
            nameHeight_ + (lines - 1) * lineHeight_ + m.top() + m.bottom()};
}

void TileWidget::setLine(int i, const QString& text) {
    Line& line = lines_[i];
    const QFont& font = i == 0 ? nameFont_ : this->font();
    const qreal space = i == 0 ? nameSpace_ : space_;
    // A word kept in its place is neither laid out nor painted again: a new value repaints its
    // digits only.
    QList<Word> words;
    QRect dirty;
    qreal x = 0;
    // Each line keeps to its row: a line break in it (a run's name) is shown as a space.
    QString flat = text;
    for (QChar& c : flat)
        if (c == u'\n' || c == u'\r' || c == QChar::LineSeparator || c == QChar::ParagraphSeparator)
            c = u' ';
    const QStringList texts = flat.split(u' ');
    for (int k = 0; k < texts.size(); ++k) {
        const Word* was = k < line.words.size() ? &line.words[k] : nullptr;
        Word w;
        if (was && was->text.text() == texts[k]) {
            w = *was;
        } else {
            w.text.setTextFormat(Qt::PlainText);
            w.text.setText(texts[k]);
            w.text.prepare(QTransform(), font);
            w.width = w.text.size().width();
        }
        w.x = x;
        x += w.width + space;
        // A pixel more on either side for a glyph reaching beyond its advance.
        if (!was || was->text.text() != texts[k] || was->x != w.x) {
            dirty |= wordRect(i, w).adjusted(-1, 0, 1, 0);
            if (was) dirty |= wordRect(i, *was).adjusted(-1, 0, 1, 0);
        }
        words << w;
    }
    for (qsizetype k = texts.size(); k < line.words.size(); ++k)
        dirty |= wordRect(i, line.words[k]).adjusted(-1, 0, 1, 0);
    line.text = text;
    line.words = std::move(words);
    if (!dirty.isEmpty()) update(dirty & lineRect(i));
}

void TileWidget::paintEvent(QPaintEvent* e) {
    QPainter p(this);
    // New values repaint words inside the frame: the frame itself only when uncovered or restyled.
    if (!contentsRect().contains(e->rect())) drawFrame(&p);
    p.setClipRect(contentsRect().marginsRemoved(kPadding));
    p.setPen(palette().color(QPalette::WindowText));
    for (int i = 0; i < lines_.size(); ++i) {
        const QRect row = lineRect(i);
        if (!e->region().intersects(row)) continue;
        p.setFont(i == 0 ? nameFont_ : font());
        for (const Word& w : lines_[i].words)
            if (!w.text.text().isEmpty() && e->region().intersects(wordRect(i, w)))
                p.drawStaticText(QPointF(row.x() + w.x, row.y()), w.text);
    }
}

void TileWidget::display(const Tile& tile, bool flashPhase) {
    tone_ = tile.tone;
    if (lines_.size() != tile.lines.size()) {
        lines_.resize(tile.lines.size());
        update();
    }
    for (int i = 0; i < lines_.size(); ++i)
        if (lines_[i].text != tile.lines[i]) setLine(i, tile.lines[i]);
    // Told to a screen reader only when it changed.
    if (accessibleName() != tile.lines.value(0)) setAccessibleName(tile.lines.value(0));
    // A screen reader hears the worst state first, as the colour shows it.
    const QString description = toneWord(tile.tone) + u'\n' + tile.details;
    if (accessibleDescription() != description) setAccessibleDescription(description);
    // Whatever a line says briefly or the tile's width cuts off, its tooltip says in full.
    // (A run's name is the operator's text: shown as it is, never as markup.)
    const QString tip =
        QStringLiteral("<qt>%1</qt>")
            .arg(tile.details.toHtmlEscaped().replace(u'\n', QStringLiteral("<br>")));
    if (toolTip() != tip) setToolTip(tip);
    // A new colour repaints the whole tile; most refreshes bring none.
    const QColor colour = toneColour(tile.tone, flashPhase);
    if (palette().color(QPalette::Window) == colour &&
        palette().color(QPalette::WindowText) == Qt::black)
        return;
    QPalette p = palette();
    p.setColor(QPalette::Window, colour);
    p.setColor(QPalette::WindowText, Qt::black);
    setPalette(p);
}

void TileWidget::keyPressEvent(QKeyEvent* e) {
    if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
        if (!e->isAutoRepeat()) emit activated();
        return;
    }
    switch (e->key()) {
        case Qt::Key_Left:
        case Qt::Key_Right:
        case Qt::Key_Up:
        case Qt::Key_Down:
        case Qt::Key_Home:
        case Qt::Key_End:
            if (e->modifiers() == Qt::NoModifier || e->modifiers() == Qt::KeypadModifier) {
                emit stepped(e->key());
                return;
            }
            break;
        default:
            break;
    }
    QFrame::keyPressEvent(e);
}

void TileWidget::mouseDoubleClickEvent(QMouseEvent*) {
    emit activated();
}

void TileWidget::mousePressEvent(QMouseEvent* e) {
    setFocus(Qt::MouseFocusReason);
    emit chosen();
    QFrame::mousePressEvent(e);
}

void TileWidget::focusInEvent(QFocusEvent* e) {
    emit chosen();
    QFrame::focusInEvent(e);
}

ChamberDialog::ChamberDialog(QList<ChamberConf> others, const ChamberConf* edited,
                             QMap<int, int> turnarounds, comm::PortMap ports, QWidget* parent)
    : QDialog(parent),
      others_(std::move(others)),
      turnarounds_(std::move(turnarounds)),
      ports_(std::move(ports)) {
    if (edited) edited_ = *edited;
    setObjectName(QStringLiteral("ChamberDialog"));
    setWindowTitle(edited ? base::Tr::tr("修改试验箱") : base::Tr::tr("添加试验箱"));
    const ChamberConf start = edited ? *edited : proposedChamber(others_, 0, kMaxAddress);
    name_ = new QLineEdit(start.name, this);
    name_->setObjectName(QStringLiteral("ChamberName"));
    name_->setAccessibleName(base::Tr::tr("名称"));
    // A chamber's name names its settings file and its database: it stays as it was made, and
    // looks so.
    if (edited) {
        name_->setReadOnly(true);
        QPalette p = name_->palette();
        p.setColor(QPalette::Base, p.color(QPalette::Window));
        name_->setPalette(p);
    }
    port_ = new QSpinBox(this);
    port_->setObjectName(QStringLiteral("ChamberPort"));
    port_->setAccessibleName(base::Tr::tr("通讯端口"));
    port_->setRange(1, 20);
    port_->setValue(start.port);
    address_ = new QSpinBox(this);
    address_->setObjectName(QStringLiteral("ChamberAddress"));
    address_->setAccessibleName(base::Tr::tr("模块地址"));
    address_->setRange(1, kMaxAddress);
    address_->setValue(start.address);
    baud_ = new QComboBox(this);
    baud_->setObjectName(QStringLiteral("ChamberBaud"));
    baud_->setAccessibleName(base::Tr::tr("波特率"));
    baud_->addItems({QStringLiteral("4800"), QStringLiteral("9600"), QStringLiteral("19200")});
    baud_->setCurrentText(QString::number(start.baud));
    parity_ = new QComboBox(this);
    parity_->setObjectName(QStringLiteral("ChamberParity"));
    parity_->setAccessibleName(base::Tr::tr("校验位"));
    parity_->addItems({QStringLiteral("N"), QStringLiteral("O"), QStringLiteral("E")});
    parity_->setCurrentText(QString(start.parity));
    // The delay belongs to the line: it follows the port chosen, and changing it changes it for
    // every chamber on that port.
    turnaround_ = new QSpinBox(this);
    turnaround_->setObjectName(QStringLiteral("ChamberTurnaround"));
    turnaround_->setAccessibleName(base::Tr::tr("帧间延时（毫秒）"));
    turnaround_->setRange(0, 1000);
    turnaround_->setValue(turnarounds_.value(start.port));
    connect(port_, &QSpinBox::valueChanged, turnaround_,
            [this](int port) { turnaround_->setValue(turnarounds_.value(port)); });
    // The device the port number names, as the main window shows it.
    device_ = new QLabel(this);
    device_->setObjectName(QStringLiteral("ChamberPortDevice"));
    const auto showDevice = [this](int port) {
        const QString dev = ports_.deviceFor(port);
        device_->setText(dev.isEmpty() ? base::Tr::tr("（无设备）")
                                       : comm::deviceCaption(dev, base::Lang::Shown));
        port_->setAccessibleDescription(device_->text());
    };
    showDevice(start.port);
    connect(port_, &QSpinBox::valueChanged, this, showDevice);
    // A new chamber joins the line of the port chosen: its baud and parity, a free address.
    if (!edited)
        connect(port_, &QSpinBox::valueChanged, this, [this](int port) {
            const ChamberConf proposed = proposedChamber(others_, port, kMaxAddress);
            baud_->setCurrentText(QString::number(proposed.baud));
            parity_->setCurrentText(QString(proposed.parity));
            for (const ChamberConf& o : others_)
                if (o.port == port && o.address == address_->value())
                    address_->setValue(proposed.address);
        });
    message_ = new QLabel(this);
    message_->setObjectName(QStringLiteral("ChamberDialogMessage"));
    message_->setStyleSheet(QStringLiteral("color: #b00000"));
    message_->setWordWrap(true);

    auto* form = new QFormLayout;
    form->addRow(base::Tr::tr("名称"), name_);
    auto* portRow = new QHBoxLayout;
    portRow->addWidget(port_);
    portRow->addWidget(device_, 1);
    form->addRow(base::Tr::tr("通讯端口"), portRow);
    form->addRow(base::Tr::tr("模块地址"), address_);
    form->addRow(base::Tr::tr("波特率"), baud_);
    form->addRow(base::Tr::tr("校验位"), parity_);
    form->addRow(base::Tr::tr("帧间延时（毫秒）"), turnaround_);
    auto* buttons = new QDialogButtonBox(this);
    QPushButton* ok = buttons->addButton(base::Tr::tr("确定"), QDialogButtonBox::AcceptRole);
    ok->setObjectName(QStringLiteral("ChamberDialogOk"));
    QPushButton* cancel = buttons->addButton(base::Tr::tr("取消"), QDialogButtonBox::RejectRole);
    cancel->setObjectName(QStringLiteral("ChamberDialogCancel"));
    // Enter in an entry presses nothing; on a button it presses that button.
    for (QPushButton* b : {ok, cancel})
        b->setAutoDefault(false);
    connect(ok, &QPushButton::clicked, this, &ChamberDialog::tryAccept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    auto* l = new QVBoxLayout(this);
    l->addLayout(form);
    l->addWidget(message_);
    l->addWidget(buttons);
}

// The button box makes its first accepting button the default one as it is shown, which Enter in
// any entry would press: the dialog has none.
void ChamberDialog::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    for (QPushButton* b : findChildren<QPushButton*>())
        b->setDefault(false);
}

ChamberConf ChamberDialog::conf() const {
    ChamberConf c;
    c.name = name_->text().trimmed();
    c.port = port_->value();
    c.address = address_->value();
    c.baud = baud_->currentText().toInt();
    c.parity = parity_->currentText().at(0);
    return c;
}

int ChamberDialog::turnaroundMs() const {
    return turnaround_->value();
}

void ChamberDialog::tryAccept() {
    QList<ChamberConf> all = others_;
    all << conf();
    // A chamber changed takes its line's other chambers to its baud rate and parity.
    if (edited_) all = withLineSettings(all, all.size() - 1);
    if (const auto refusal = checkChambers(all)) {
        message_->setText(refusalText(*refusal));
        return;
    }
    // With access control on, the change is the user's, with a reason; cancelled, the dialog stays.
    const ChamberConf now = conf();
    const QString what = edited_ ? base::Tr::tr("修改试验箱 %1").arg(now.name)
                                 : base::Tr::tr("添加试验箱 %1").arg(now.name);
    const auto by = auth::consent(this, auth::Action::ConfigurationWrite, what);
    if (!by) return;
    if (!by->refusal.isEmpty()) {
        message_->setText(base::shown(by->refusal));
        return;
    }
    audit_ = *by;
    audit_.oldValue = edited_ ? comm::settingsText(edited_->portSettings()) : QString();
    audit_.newValue = comm::settingsText(now.portSettings());
    accept();
}

void OverviewWindow::showAbout() {
    ui::AboutDialog::show(this);
}

OverviewWindow::OverviewWindow(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("Overview"));
    setWindowTitle(base::Tr::tr("试验箱总览"));
    tileArea_ = new QWidget;
    grid_ = new QGridLayout(tileArea_);
    grid_->setSpacing(6);
    grid_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    scroll_ = new QScrollArea(this);
    scroll_->setWidgetResizable(true);
    scroll_->setWidget(tileArea_);
    scroll_->setFocusPolicy(Qt::NoFocus);
    empty_ = new QLabel(base::Tr::tr("没有试验箱。用“添加”加入一个。"), tileArea_);
    empty_->setObjectName(QStringLiteral("OverviewEmpty"));

    auto button = [this](const char* text, const char* name, void (OverviewWindow::*slot)()) {
        auto* b = new QPushButton(base::Tr::tr(text), this);
        b->setObjectName(QString::fromLatin1(name));
        b->setAccessibleName(base::Tr::tr(text));
        connect(b, &QPushButton::clicked, this, slot);
        return b;
    };
    openButton_ = button(QT_TRANSLATE_NOOP("velmars", "打开试验箱"), "OverviewOpen",
                         &OverviewWindow::openChamber);
    QPushButton* add = addButton_ =
        button(QT_TRANSLATE_NOOP("velmars", "添加"), "OverviewAdd", &OverviewWindow::addChamber);
    editButton_ =
        button(QT_TRANSLATE_NOOP("velmars", "修改"), "OverviewEdit", &OverviewWindow::editChamber);
    deleteButton_ = button(QT_TRANSLATE_NOOP("velmars", "删除"), "OverviewDelete",
                           &OverviewWindow::deleteChamber);
    lineOpenButton_ = button(QT_TRANSLATE_NOOP("velmars", "打开端口"), "OverviewLineOpen",
                             &OverviewWindow::openLine);
    lineCloseButton_ = button(QT_TRANSLATE_NOOP("velmars", "关闭端口"), "OverviewLineClose",
                              &OverviewWindow::closeLine);
    QPushButton* exit = exitButton_ =
        button(QT_TRANSLATE_NOOP("velmars", "退出"), "OverviewExit", &OverviewWindow::requestExit);
    // Leaving ends every chamber's recording: under access control, only someone who may end it.
    auth::guard(exit, auth::Action::StartEndRun);
    auto* access = accessButton_ = new QPushButton(base::Tr::tr("访问控制"), this);
    access->setObjectName(QStringLiteral("OverviewAccess"));
    access->setAccessibleName(access->text());
    auth::guard(access, auth::Action::AccessControlSettings);
    connect(access, &QPushButton::clicked, this, &OverviewWindow::accessRequested);
    QPushButton* about = aboutButton_ =
        button(QT_TRANSLATE_NOOP("velmars", "关于"), "OverviewAbout", &OverviewWindow::showAbout);
    // The chambers' list is the PC's configuration (ports, addresses, the line's timing).
    for (QPushButton* b : {add, editButton_, deleteButton_, lineOpenButton_, lineCloseButton_})
        auth::guard(b, auth::Action::ConfigurationWrite);
    auto* row = new QHBoxLayout;
    row->addWidget(openButton_);
    row->addWidget(add);
    row->addWidget(editButton_);
    row->addWidget(deleteButton_);
    row->addWidget(lineOpenButton_);
    row->addWidget(lineCloseButton_);
    row->addStretch(1);
    row->addWidget(about);
    row->addWidget(access);
    row->addWidget(exit);
    alerts_ = new QTableWidget(0, 5, this);
    alerts_->setObjectName(QStringLiteral("OverviewAlertList"));
    alerts_->setAccessibleName(base::Tr::tr("报警列表"));
    alerts_->setHorizontalHeaderLabels({base::Tr::tr("名称"), base::Tr::tr("时间"),
                                        base::Tr::tr("报警"), base::Tr::tr("数值"),
                                        base::Tr::tr("状态")});
    alerts_->verticalHeader()->hide();
    alerts_->horizontalHeader()->setStretchLastSection(true);
    alerts_->setSelectionBehavior(QAbstractItemView::SelectRows);
    alerts_->setSelectionMode(QAbstractItemView::SingleSelection);
    alerts_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    alerts_->setTabKeyNavigation(false);
    // Room for five alerts under the header; more scroll.
    {
        const int rowHeight = alerts_->verticalHeader()->defaultSectionSize();
        const int frame = 2 * alerts_->frameWidth();
        alerts_->setFixedHeight(alerts_->horizontalHeader()->sizeHint().height() + 5 * rowHeight +
                                frame);
    }
    alertComment_ = new QLineEdit(this);
    alertComment_->setObjectName(QStringLiteral("OverviewAlertComment"));
    alertComment_->setAccessibleName(base::Tr::tr("确认说明"));
    alertComment_->setPlaceholderText(base::Tr::tr("确认说明：谁、为什么"));
    alertComment_->setMinimumWidth(240);
    alertAck_ = new QPushButton(base::Tr::tr("确认"), this);
    alertAck_->setObjectName(QStringLiteral("OverviewAlertAcknowledge"));
    alertAck_->setAccessibleName(base::Tr::tr("确认"));
    auth::guard(alertComment_, auth::Action::AcknowledgeAlert);
    auth::guard(alertAck_, auth::Action::AcknowledgeAlert);
    alertMessage_ = new QLabel(this);
    alertMessage_->setObjectName(QStringLiteral("OverviewAlertMessage"));
    connect(alertAck_, &QPushButton::clicked, this, &OverviewWindow::acknowledgeAlert);
    connect(alertComment_, &QLineEdit::returnPressed, this, &OverviewWindow::acknowledgeAlert);
    auto* side = new QVBoxLayout;
    side->addWidget(alertComment_);
    side->addWidget(alertAck_);
    side->addWidget(alertMessage_);
    side->addStretch(1);
    auto* alertRow = new QHBoxLayout;
    alertRow->addWidget(alerts_, 1);
    alertRow->addLayout(side);

    auto* l = new QVBoxLayout(this);
    l->setContentsMargins(6, 6, 6, 6);
    l->addWidget(scroll_, 1);
    l->addLayout(alertRow);
    l->addLayout(row);
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("serviceStatus"));
    status_->hide();
    l->addWidget(status_);

    timer_ = new QTimer(this);
    timer_->setObjectName(QStringLiteral("OverviewTimer"));
    timer_->setInterval(500);
    connect(timer_, &QTimer::timeout, this, [this] {
        flashPhase_ = !flashPhase_;
        refresh();
    });
    timer_->start();
    // Room for two rows of four tiles and the alert list, within a 1366 × 768 screen's taskbar.
    resize(1240, 680);
    setChambers({});
}

OverviewWindow::~OverviewWindow() = default;

void OverviewWindow::setChambers(QList<Entry> entries) {
    const int keep = chosen_;
    entries_ = std::move(entries);
    qDeleteAll(tiles_);
    tiles_.clear();
    for (qsizetype i = 0; i < entries_.size(); ++i) {
        auto* tile = new TileWidget(tileArea_);
        tile->setObjectName(QStringLiteral("ChamberTile_%1").arg(entries_[i].conf.name));
        const int index = static_cast<int>(i);
        connect(tile, &TileWidget::chosen, this, [this, index] { choose(index); });
        connect(tile, &TileWidget::activated, this, [this, index] {
            choose(index);
            openChamber();
        });
        connect(tile, &TileWidget::stepped, this, [this, index](int key) {
            const int to = tileStep(index, static_cast<int>(tiles_.size()), kColumns, key);
            if (to == index) return;
            tiles_[to]->setFocus(Qt::OtherFocusReason);
            scroll_->ensureWidgetVisible(tiles_[to]);
        });
        grid_->addWidget(tile, index / kColumns, index % kColumns);
        tiles_ << tile;
    }
    arrangeTabOrder();
    empty_->setVisible(entries_.isEmpty());
    if (entries_.isEmpty()) grid_->addWidget(empty_, 0, 0);
    choose(entries_.isEmpty() ? -1 : std::clamp(keep, 0, static_cast<int>(entries_.size()) - 1));
    for (QPushButton* b :
         {openButton_, editButton_, deleteButton_, lineOpenButton_, lineCloseButton_})
        b->setEnabled(!entries_.isEmpty());
    refresh();
}

void OverviewWindow::arrangeTabOrder() {
    QList<QWidget*> order;
    for (TileWidget* t : tiles_)
        order << t;
    order << alerts_ << alertComment_ << alertAck_ << openButton_ << addButton_ << editButton_
          << deleteButton_ << lineOpenButton_ << lineCloseButton_ << aboutButton_ << accessButton_
          << exitButton_;
    for (qsizetype i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);
}

// Shown (at start, or back from a chamber's window) with nothing of its own in focus: the chosen
// tile takes it, or "添加" while there is none.
void OverviewWindow::showEvent(QShowEvent* e) {
    QWidget::showEvent(e);
    QWidget* f = focusWidget();
    if (f && isAncestorOf(f)) return;
    if (chosen_ >= 0 && chosen_ < tiles_.size())
        tiles_[chosen_]->setFocus(Qt::OtherFocusReason);
    else
        addButton_->setFocus(Qt::OtherFocusReason);
}

void OverviewWindow::choose(int index) {
    chosen_ = index;
    // The chosen tile wears a thicker frame, whether or not the window has the focus.
    for (qsizetype i = 0; i < tiles_.size(); ++i)
        tiles_[i]->setLineWidth(i == index ? 3 : 1);
}

std::optional<chamber::State> OverviewWindow::stateOf(const Entry& e) const {
    if (e.chamber) return e.chamber->state();
    if (served_) return served_(e.conf.name);
    return std::nullopt;
}

void OverviewWindow::showServed(StateSource states, Acknowledge acknowledge) {
    served_ = std::move(states);
    servedAcknowledge_ = std::move(acknowledge);
    // The list of chambers, their lines and the accounts are the service's to keep.
    for (QPushButton* b :
         {addButton_, editButton_, deleteButton_, lineOpenButton_, lineCloseButton_, accessButton_})
        b->hide();
    status_->show();
    refresh();
}

void OverviewWindow::setStatusText(const QString& text) {
    status_->setText(text);
    status_->setAccessibleName(text);
}

void OverviewWindow::refresh() {
    for (qsizetype i = 0; i < tiles_.size(); ++i) {
        const Entry& e = entries_[i];
        const std::optional<chamber::State> s = stateOf(e);
        const bool opened = e.chamber ? e.chamber->opened() : s.has_value();
        tiles_[i]->display(tileOf(e.conf.name, s.value_or(chamber::State{}), opened), flashPhase_);
    }
    refreshAlerts();
}

void OverviewWindow::refreshAlerts() {
    struct Row {
        QString chamber, id;
        QStringList cells;
        bool waiting;  // active and not acknowledged
        bool unacked;
        AlertPlace place;
    };
    QList<Row> rows;
    QString shown;
    for (const Entry& e : entries_) {
        const std::optional<chamber::State> s = stateOf(e);
        if (!s) continue;
        for (const chamber::AlertInfo& l : s->alerts) {
            const auto kind = alert::kindOfKey(l.kind);
            rows << Row{e.conf.name,
                        l.id,
                        {e.conf.name, l.firedAt.toString(QStringLiteral("MM-dd HH:mm:ss")),
                         kind ? base::shown(alert::kindTitle(*kind)) : l.kind,
                         l.valueText.text(base::Lang::Shown),
                         alert::listedStateText(l.active, l.acknowledged)},
                        l.active && !l.acknowledged,
                        !l.acknowledged,
                        {l.active, l.acknowledged, l.firedAt}};
        }
    }
    std::stable_sort(rows.begin(), rows.end(),
                     [](const Row& a, const Row& b) { return listedBefore(a.place, b.place); });
    for (const Row& r : rows)
        shown += r.cells.join(u'\t') + u'\n';
    alertAck_->setEnabled(
        std::any_of(rows.begin(), rows.end(), [](const Row& r) { return r.unacked; }));
    if (shown == alertsShown_) return;
    alertsShown_ = shown;
    // The chosen row stays chosen while the list changes around it.
    const int cur = alerts_->currentRow();
    const QString chosen = cur >= 0 && alerts_->item(cur, 0)
                               ? alerts_->item(cur, 0)->data(Qt::UserRole).toString()
                               : QString();
    alerts_->setRowCount(static_cast<int>(rows.size()));
    for (int r = 0; r < rows.size(); ++r) {
        for (int c = 0; c < 5; ++c) {
            auto* item = new QTableWidgetItem(rows[r].cells[c]);
            item->setData(Qt::UserRole, rows[r].chamber + u'\n' + rows[r].id);
            if (rows[r].waiting) item->setForeground(Qt::red);
            alerts_->setItem(r, c, item);
        }
        if (!chosen.isEmpty() && rows[r].chamber + u'\n' + rows[r].id == chosen)
            alerts_->selectRow(r);
    }
    for (int c = 0; c < 4; ++c)
        alerts_->resizeColumnToContents(c);
}

void OverviewWindow::acknowledgeAlert() {
    // The chosen alert, else the oldest one nobody has acknowledged, of any chamber.
    const int cur = alerts_->currentRow();
    const QString chosen = cur >= 0 && alerts_->item(cur, 0)
                               ? alerts_->item(cur, 0)->data(Qt::UserRole).toString()
                               : QString();
    const Entry* target = nullptr;
    std::optional<chamber::AlertInfo> found;
    for (bool anyOne : {false, true}) {
        for (const Entry& e : entries_) {
            const std::optional<chamber::State> s = stateOf(e);
            if (!s) continue;
            for (const chamber::AlertInfo& l : s->alerts) {
                if (l.acknowledged) continue;
                const bool take = anyOne ? !found || l.firedAt < found->firedAt
                                         : e.conf.name + u'\n' + l.id == chosen;
                if (take) {
                    target = &e;
                    found = l;
                }
            }
        }
        if (found) break;
    }
    if (!found) {
        alertMessage_->setText(base::Tr::tr("没有待确认的报警"));
        return;
    }
    if (alertComment_->text().simplified().isEmpty()) {
        alertMessage_->setText(base::Tr::tr("请填写确认说明"));
        alertComment_->setFocus();
        return;
    }
    const auto kind = alert::kindOfKey(found->kind);
    const QString title = kind ? base::shown(alert::kindTitle(*kind)) : found->kind;
    if (!target->chamber) {
        // Another program's chamber: its answer comes later.
        if (!servedAcknowledge_) return;
        alertMessage_->setText(base::Tr::tr("正在确认：%1").arg(title));
        servedAcknowledge_(
            target->conf.name, found->id, alertComment_->text(),
            [self = QPointer<OverviewWindow>(this), title](chamber::Outcome o) {
                if (!self) return;
                if (o == chamber::Outcome::Done) {
                    self->alertMessage_->setText(base::Tr::tr("已确认：%1").arg(title));
                    self->alertComment_->clear();
                } else {
                    self->alertMessage_->setText(o == chamber::Outcome::Refused
                                                     ? base::Tr::tr("服务拒绝：无此权限")
                                                     : base::Tr::tr("未能确认：%1").arg(title));
                }
                self->refreshAlerts();
            });
        return;
    }
    const auth::Actor by = auth::actorAtThePc();
    switch (target->chamber->acknowledgeAlert(found->id, alertComment_->text(), by)) {
        case chamber::Outcome::Done:
            alertMessage_->setText(base::Tr::tr("已确认：%1").arg(title));
            alertComment_->clear();
            break;
        case chamber::Outcome::Refused:
            alertMessage_->setText(
                auth::denialText(auth::denial(by, auth::Action::AcknowledgeAlert),
                                 auth::Action::AcknowledgeAlert, base::Lang::Shown));
            return;
        default:
            break;
    }
    refreshAlerts();
}

QList<ChamberConf> OverviewWindow::confs(int except) const {
    QList<ChamberConf> out;
    for (qsizetype i = 0; i < entries_.size(); ++i)
        if (i != except) out << entries_[i].conf;
    return out;
}

void OverviewWindow::addChamber() {
    if (dialog_) return;
    auto* d = new ChamberDialog(confs(-1), nullptr, turnarounds_, ports_, this);
    d->setAttribute(Qt::WA_DeleteOnClose);
    connect(d, &QDialog::accepted, this, [this, d] {
        takeTurnaround(*d);
        emit added(d->conf(), d->audit());
    });
    dialog_ = d;
    d->open();
}

void OverviewWindow::editChamber() {
    const int index = current();
    if (dialog_ || index < 0) return;
    auto* d = new ChamberDialog(confs(index), &entries_[index].conf, turnarounds_, ports_, this);
    d->setAttribute(Qt::WA_DeleteOnClose);
    connect(d, &QDialog::accepted, this, [this, d, index] {
        takeTurnaround(*d);
        emit changed(index, d->conf(), d->audit());
    });
    dialog_ = d;
    d->open();
}

void OverviewWindow::openLine() {
    if (current() >= 0) emit lineRequested(current(), true);
}

void OverviewWindow::closeLine() {
    if (current() >= 0) emit lineRequested(current(), false);
}

void OverviewWindow::takeTurnaround(const ChamberDialog& d) {
    const int port = d.conf().port;
    const int ms = d.turnaroundMs();
    if (turnarounds_.value(port) == ms) return;
    base::Audit by = d.audit();
    by.oldValue = QString::number(turnarounds_.value(port));
    by.newValue = QString::number(ms);
    turnarounds_[port] = ms;
    emit turnaroundChanged(port, ms, by);
}

void OverviewWindow::deleteChamber() {
    const int index = current();
    if (dialog_ || index < 0) return;
    const QString name = entries_[index].conf.name;
    QString question = base::Tr::tr("删除试验箱 %1？其数据库文件保留。").arg(name);
    // A run going on in it ends without its stop: the operator hears of it first.
    if (const chamber::Chamber* c = entries_[index].chamber)
        if (const std::optional<chamber::RunInfo> run = c->state().run)
            question =
                base::Tr::tr("删除试验箱 %1？试验“%2”正在进行，删除后不再记录。其数据库文件保留。")
                    .arg(name, run->name);
    dialog_ = ui::askFirst(this, question, QStringLiteral("DeleteQuestion"), base::Tr::tr("删除"),
                           QStringLiteral("Delete"), [this, name] { removeNamed(name); });
}

void OverviewWindow::removeNamed(const QString& name) {
    auto by = auth::consent(this, auth::Action::ConfigurationWrite,
                            base::Tr::tr("删除试验箱 %1").arg(name));
    if (!by || !by->refusal.isEmpty()) return;
    // The list may have changed while the question was open: the chamber is found by name.
    for (qsizetype i = 0; i < entries_.size(); ++i)
        if (entries_[i].conf.name == name) {
            by->oldValue = comm::settingsText(entries_[i].conf.portSettings());
            emit removed(static_cast<int>(i), *by);
            return;
        }
}

void OverviewWindow::openChamber() {
    const int index = current();
    if (index >= 0) emit openRequested(index);
}

void OverviewWindow::requestExit() {
    if (dialog_) {
        dialog_->activateWindow();
        return;
    }
    // The close box and Esc too: the button's tooltip says why not.
    if (!auth::refusalShown(auth::Action::StartEndRun).isEmpty()) return;
    // Leaving ends every chamber's recording, so it is asked first.
    dialog_ = ui::askFirst(this, base::Tr::tr("退出程序？退出后停止记录。"),
                           QStringLiteral("ExitQuestion"), base::Tr::tr("退出"),
                           QStringLiteral("Quit"), [this] {
                               if (exitAction_) exitAction_();
                           });
}

void OverviewWindow::closeEvent(QCloseEvent* e) {
    // Closing the overview ends the recording of every chamber: it is asked first.
    if (closing_) {
        QWidget::closeEvent(e);
        return;
    }
    e->ignore();
    requestExit();
}

}  // namespace overview
