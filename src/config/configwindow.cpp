#include "config/configwindow.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QVBoxLayout>

#include "auth/guard.h"
#include "auth/reason.h"
#include "base/listpick.h"
#include "base/numberrule.h"
#include "base/tr.h"
#include "ui/accessible.h"
#include "ui/edittracker.h"
#include "ui/widgets.h"

namespace config {

namespace {

const QColor kReadbackBack(255, 192, 255);  // light pink behind every readback
const QColor kHintText(0, 0, 192);          // dark blue hints
const QColor kEditBack(255, 255, 255);      // T_3RW boxes

// The parameter block the editors start from: 4X 4097..4144.
constexpr int32_t kParamStart = 4097;
constexpr int32_t kParamCount = 48;

// The table's texts are kept in Chinese: the event log stores a write under its Chinese caption.
// The window shows them in the chosen language.
QStringList shownEntries(const Param& p) {
    QStringList out;
    for (const QString& e : p.options->entries)
        out << base::shown(e);
    return out;
}

// "输入1 输入上限" shown piece by piece: the tab caption, then the row's.
QString shownName(const Param& p) {
    const QString name = config::accessibleName(p);
    if (name == p.caption) return base::shown(name);
    return base::shown(tabCaptions().at(p.tab)) + u' ' + base::shown(p.caption);
}

QLabel* hintLabel(const QString& text, const QString& name, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, kHintText);
    label->setPalette(pal);
    label->setWordWrap(true);
    return label;
}

}  // namespace

QWidget* ConfigWindow::Row::editor() const {
    return list ? static_cast<QWidget*>(list) : static_cast<QWidget*>(edit);
}

ConfigWindow::ConfigWindow(instrument::Feed feed, QWidget* parent)
    : ui::SubWindow(parent), feed_(std::move(feed)) {
    setObjectName(QStringLiteral("CONFIG1"));
    setWindowTitle(base::Tr::tr("Velmar 配置 "));
    connect(edits(), &ui::EditTracker::changed, this, &ConfigWindow::writeChanged);

    auto* frame = new QGroupBox(QStringLiteral("CONFIG"), this);
    frame->setObjectName(QStringLiteral("Frame1"));
    tabs_ = new QTabWidget(frame);
    tabs_->setObjectName(QStringLiteral("SSTab1"));
    tabs_->setAccessibleName(QStringLiteral("CONFIG"));
    tabs_->setUsesScrollButtons(false);
    auto* frameLayout = new QVBoxLayout(frame);
    frameLayout->addWidget(tabs_);

    const QStringList& captions = tabCaptions();
    for (int t = 0; t < captions.size(); ++t)
        tabs_->addTab(buildTab(t), base::shown(captions.at(t)));
    tabs_->setCurrentIndex(kOpeningTab);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(frame, 1);
    layout->addLayout(bottomRow());

    // Tab order: the tab bar, then every row top to bottom (controls on hidden tabs are skipped),
    // then the button.
    QWidget* previous = tabs_;
    for (const Row& row : rows_) {
        setTabOrder(previous, row.editor());
        previous = row.editor();
    }
    setTabOrder(previous, returnButton());

    writer()->setGate(auth::writeGate([](int32_t) { return auth::Action::ConfigurationWrite; }));
    startReadback(1000, [this] { readbackTick(); });
    // The editors start from the instrument's own values, read now rather than taken from an
    // image that may be older than the window.
    editorReadId_ = feed_.readHolding(kParamStart, kParamCount);

    // Nothing is written until the operator enters a box, so the focus starts on the tab bar.
    tabs_->tabBar()->setFocus(Qt::OtherFocusReason);
    resize(900, 600);
}

QWidget* ConfigWindow::buildTab(int tab) {
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("SSTab1_page_%1").arg(tab));
    auto* grid = new QGridLayout(page);
    grid->setColumnStretch(3, 1);
    grid->setHorizontalSpacing(12);
    grid->setVerticalSpacing(10);
    int line = 0;
    for (const Param& p : parameterTable()) {
        if (p.tab != tab) continue;
        Row row;
        row.param = &p;
        const QString name = shownName(p);
        const QString hint = base::shown(p.hint);

        auto* caption = new QLabel(base::shown(p.caption), page);
        caption->setObjectName(QStringLiteral("Label1_%1").arg(p.k));

        QLabel* readback =
            ui::valueLabel(QStringLiteral("D_4W_%1").arg(p.k), name + base::Tr::tr(" 读数"), 130);
        readback->setParent(page);
        ui::setLabelBackground(readback, kReadbackBack);
        readback->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        readback->setMinimumHeight(26);
        readback->setIndent(4);
        readback->setAccessibleDescription(hint);
        row.readback = readback;

        QWidget* editor = nullptr;
        if (p.kind == Kind::List) {
            auto* list = new ui::NamedList(page);
            list->setEditable(true);
            list->setInsertPolicy(QComboBox::NoInsert);
            list->addItems(shownEntries(p));
            list->setCurrentIndex(0);
            list->setMaxVisibleItems(p.options->entries.size());
            row.list = list;
            editor = list;
            edits()->track(list);
        } else {
            auto* edit = new QLineEdit(page);
            edit->setAutoFillBackground(true);
            QPalette epal = edit->palette();
            epal.setColor(QPalette::Base, kEditBack);
            edit->setPalette(epal);
            row.edit = edit;
            editor = edit;
            edits()->track(edit);
        }
        editor->setObjectName(editorName(p));
        editor->setAccessibleName(name);
        ui::setWriteCaption(editor, config::accessibleName(p));
        editor->setAccessibleDescription(hint);
        editor->setMinimumWidth(190);
        caption->setBuddy(editor);
        auth::guard(editor, auth::Action::ConfigurationWrite);

        grid->addWidget(caption, line, 0);
        grid->addWidget(readback, line, 1, Qt::AlignVCenter);
        grid->addWidget(editor, line, 2);
        grid->addWidget(hintLabel(hint, QStringLiteral("Label2_%1").arg(p.k), page), line, 3);
        ++line;

        rowOf_.insert(editor, rows_.size());
        rows_.push_back(row);
    }
    if (tab == 0) {
        grid->addWidget(
            hintLabel(base::shown(instExtraHint()), QStringLiteral("LabelInstHint"), page), line, 0,
            1, 4);
        ++line;
    }
    grid->setRowStretch(line, 1);
    return page;
}

void ConfigWindow::readbackTick() {
    const auto& values = feed_.image().ParamValues;
    for (const Row& row : rows_) {
        const std::optional<QString> text =
            readbackText(*row.param, values.at(static_cast<size_t>(row.param->k)));
        if (text && row.readback->text() != base::shown(*text))
            row.readback->setText(base::shown(*text));
    }
    if (editorsFromInstrument_) {
        showInEditors(QVector<float>(values.begin(), values.begin() + kParamCount));
    } else if (editorReadId_ == 0) {
        editorReadId_ = feed_.readHolding(kParamStart, kParamCount);
    }
}

void ConfigWindow::holdingRead(quint64 id, int32_t first, const QVector<int32_t>& values,
                               bool read) {
    if (id == 0 || id != editorReadId_) return;
    editorReadId_ = 0;
    if (!read || first != kParamStart || values.size() < kParamCount) return;
    editorsFromInstrument_ = true;
    QVector<float> asFloats;
    for (int32_t v : values)
        asFloats << static_cast<float>(v);
    showInEditors(asFloats);
}

void ConfigWindow::showInEditors(const QVector<float>& values) {
    // Showing a value is not an edit: it never writes. A control the operator edited, or the one
    // being worked in, keeps what it holds.
    for (const Row& row : rows_) {
        QWidget* editor = row.editor();
        if (row.param->k >= values.size() || editor->hasFocus() || edits()->heldByOperator(editor))
            continue;
        const float value = values.at(row.param->k);
        if (row.list) {
            const std::optional<int> entry = listEntryFor(*row.param, value);
            if (entry && row.list->currentIndex() != *entry) edits()->showEntry(row.list, *entry);
        } else if (const std::optional<QString> text = readbackText(*row.param, value)) {
            if (row.edit->text() != *text) edits()->showText(row.edit, *text);
        }
    }
}

void ConfigWindow::keyPressEvent(QKeyEvent* e) {
    // Keys no control took: Ctrl+Tab and Ctrl+Shift+Tab switch tabs (from the button, for
    // instance, which is outside the tab control); Esc leaves.
    if (e->modifiers() & Qt::ControlModifier) {
        if (e->key() == Qt::Key_Tab) {
            switchTab(e->modifiers() & Qt::ShiftModifier ? -1 : 1);
            return;
        }
        if (e->key() == Qt::Key_Backtab) {
            switchTab(-1);
            return;
        }
    }
    ui::SubWindow::keyPressEvent(e);
}

void ConfigWindow::switchTab(int step) {
    const int n = tabs_->count();
    tabs_->setCurrentIndex((tabs_->currentIndex() + step + n) % n);
}

void ConfigWindow::writeChanged(QWidget* control) {
    const auto it = rowOf_.constFind(control);
    if (leaving() || it == rowOf_.constEnd()) return;
    const Row& row = rows_.at(*it);
    const QString caption = ui::writeCaption(row.editor());
    if (row.list) {
        const QString shown = row.list->currentText();
        const std::optional<int> pos = base::listPosition(shownEntries(*row.param), shown);
        const QString entry = pos ? row.param->options->entries.at(*pos) : shown;
        writer()->sendListEntry(row.param->reg(), listCode(*row.param, entry), caption, shown);
    } else {
        const QString text = row.edit->text();
        writer()->sendReading(row.param->reg(), textValue(row.param->k, text), caption, text,
                              base::asciiForms(text).trimmed());
    }
}

}  // namespace config
