#include "forward/statuslabels.h"

#include <QStatusBar>

#include "base/tr.h"
#include "forward/forwarder.h"
#include "ui/accessible.h"

namespace forward {

StatusLabels::StatusLabels(QStatusBar* bar)
    : QObject(bar), status_(new ui::ValueLabel(bar)), skipped_(new ui::ValueLabel(bar)) {
    status_->setObjectName(QStringLiteral("ForwardStatus"));
    status_->setAccessibleName(base::Tr::tr("转发状态"));
    skipped_->setObjectName(QStringLiteral("ForwardSkipped"));
    skipped_->setAccessibleName(base::Tr::tr("转发跳过"));
    skipped_->hide();
    bar->addPermanentWidget(skipped_);
    bar->addPermanentWidget(status_);
}

void StatusLabels::showInvalidAddress() {
    // Only a hand-edited settings file gets here: the command line was checked at start.
    status_->setText(statusText(
        {State::Failed, 0, QStringLiteral(QT_TRANSLATE_NOOP("velmars", "服务器地址无效"))},
        base::Lang::Shown));
}

void StatusLabels::follow(const forward::Forwarder& forwarder) {
    const forward::Forwarder* f = &forwarder;
    auto show = [this, f] {
        status_->setText(f->statusText(base::Lang::Shown));
        const QString note = f->skippedText(base::Lang::Shown);
        skipped_->setText(note);
        skipped_->setVisible(!note.isEmpty());
    };
    connect(f, &forward::Forwarder::statusChanged, status_, show);
    show();
}

}  // namespace forward
