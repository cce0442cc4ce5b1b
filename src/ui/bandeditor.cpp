#include "ui/bandeditor.h"

#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>

#include "base/tr.h"
#include "ui/accessible.h"

namespace ui {

namespace {

// Wide enough for any limit a chamber reaches, narrow enough for the line.
constexpr double kLimit = 99999;

QDoubleSpinBox* numberEntry(const QString& name, const QString& accessible, double min) {
    auto* s = new QDoubleSpinBox;
    s->setObjectName(name);
    s->setAccessibleName(accessible);
    s->setRange(min, kLimit);
    s->setDecimals(1);
    s->setSingleStep(0.5);
    // The entry field inside takes the keys; it answers to the same name.
    if (auto* field = s->findChild<QLineEdit*>()) field->setAccessibleName(accessible);
    return s;
}

QString nameOf(const BandEditor::Look& look, const QString& part) {
    return QString(look.names).replace(QStringLiteral("%1"), part);
}

QLabel* caption(const QString& text, QWidget* buddy) {
    auto* l = new QLabel(text);
    l->setBuddy(buddy);
    return l;
}

}  // namespace

BandEditor::BandEditor(const Look& look, QWidget* parent) : QWidget(parent) {
    const QString& pv = look.pv;
    width_ = numberEntry(nameOf(look, QStringLiteral("Width")), look.widthName, 0);
    if (look.hysteresis)
        hysteresis_ =
            numberEntry(nameOf(look, QStringLiteral("Hysteresis")), pv + base::Tr::tr(" 回差"), 0);
    low_ =
        numberEntry(nameOf(look, QStringLiteral("Low")), base::Tr::tr("%1 下限").arg(pv), -kLimit);
    high_ =
        numberEntry(nameOf(look, QStringLiteral("High")), base::Tr::tr("%1 上限").arg(pv), -kLimit);
    auto* lowCaption = caption(base::Tr::tr("下限"), low_);
    auto* highCaption = caption(base::Tr::tr("上限"), high_);
    limits_ = {lowCaption, low_, highCaption, high_};

    auto* line = new QHBoxLayout(this);
    line->setContentsMargins(0, 0, 0, 0);
    if (look.modeList) {
        mode_ = new NamedList;
        mode_->setObjectName(nameOf(look, QStringLiteral("Mode")));
        mode_->setAccessibleName(base::Tr::tr("%1 允差方式").arg(pv));
        mode_->addItem(base::Tr::tr("%1 ± 允差").arg(look.sv));
        mode_->addItem(base::Tr::tr("固定上下限"));
        width_->setPrefix(QStringLiteral("± "));
        line->addWidget(mode_);
        line->addWidget(width_);
        connect(mode_, &QComboBox::currentIndexChanged, this, [this] {
            updateEnabled();
            emit changed();
        });
    } else {
        line->addWidget(new QLabel(pv + QStringLiteral(" SV±")));
        line->addWidget(width_);
    }
    if (hysteresis_) {
        line->addWidget(new QLabel(base::Tr::tr("回差")));
        line->addWidget(hysteresis_);
    }
    if (!look.modeList) {
        fixedBox_ = new QCheckBox(base::Tr::tr("固定上下限"));
        fixedBox_->setObjectName(nameOf(look, QStringLiteral("Fixed")));
        fixedBox_->setAccessibleName(pv + base::Tr::tr(" 固定上下限"));
        line->addWidget(fixedBox_);
        connect(fixedBox_, &QCheckBox::toggled, this, [this] {
            updateEnabled();
            emit changed();
        });
    }
    line->addSpacing(8);
    for (QWidget* w : limits_)
        line->addWidget(w);
    for (QDoubleSpinBox* s : {width_, hysteresis_, low_, high_})
        if (s) connect(s, &QDoubleSpinBox::valueChanged, this, &BandEditor::changed);
    updateEnabled();
}

bool BandEditor::fixed() const {
    return mode_ ? mode_->currentIndex() == 1 : fixedBox_->isChecked();
}

double BandEditor::plusMinus() const {
    return width_->value();
}

std::optional<double> BandEditor::hysteresis() const {
    if (!hysteresis_) return std::nullopt;
    return hysteresis_->value();
}

double BandEditor::low() const {
    return low_->value();
}

double BandEditor::high() const {
    return high_->value();
}

void BandEditor::showValues(bool fixed, double plusMinus, double hysteresis, double low,
                            double high) {
    if (mode_)
        mode_->setCurrentIndex(fixed ? 1 : 0);
    else
        fixedBox_->setChecked(fixed);
    width_->setValue(plusMinus);
    if (hysteresis_) hysteresis_->setValue(hysteresis);
    low_->setValue(low);
    high_->setValue(high);
}

QWidget* BandEditor::chooser() const {
    return mode_ ? static_cast<QWidget*>(mode_) : fixedBox_;
}

QList<QWidget*> BandEditor::focusOrder() const {
    QList<QWidget*> order;
    if (mode_) order << mode_;
    order << width_;
    if (hysteresis_) order << hysteresis_;
    if (fixedBox_) order << fixedBox_;
    return order << low_ << high_;
}

void BandEditor::updateEnabled() {
    // The entry around SV counts only without fixed limits, the limits only with them.
    const bool on = fixed();
    width_->setEnabled(!on);
    for (QWidget* w : limits_)
        w->setEnabled(on);
}

}  // namespace ui
