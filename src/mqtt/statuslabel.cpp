#include "mqtt/statuslabel.h"

#include <QStatusBar>

#include "base/tr.h"
#include "mqtt/publisher.h"
#include "ui/accessible.h"

namespace mqtt {

StatusLabel::StatusLabel(QStatusBar* bar) : QObject(bar), label_(new ui::ValueLabel(bar)) {
    label_->setObjectName(QStringLiteral("MqttStatus"));
    label_->setAccessibleName(base::Tr::tr("MQTT 状态"));
    bar->addPermanentWidget(label_);
}

void StatusLabel::follow(const Publisher& publisher) {
    const Publisher* p = &publisher;
    const auto show = [this, p] { label_->setText(p->statusText(base::Lang::Shown)); };
    connect(p, &Publisher::statusChanged, label_, show);
    show();
}

}  // namespace mqtt
