#include "forward/forwardsetup.h"

#include <QFile>
#include <QSettings>
#include <QStatusBar>

#include "base/tr.h"
#include "forward/forwarder.h"
#include "ui/accessible.h"

namespace record::forward {

namespace {
const QString kStationKey = QStringLiteral("forward/station");
}

QString keptStationName(const QSettings& settings) {
    return settings.value(kStationKey).toString().trimmed();
}

std::optional<Setting> readSetting(QSettings& settings, const std::optional<QString>& url,
                                   const std::optional<QString>& station,
                                   const std::function<QString()>& defaultStation) {
    const QString urlKey = QStringLiteral("forward/url");
    const QString& stationKey = kStationKey;
    if (url) {
        if (url->isEmpty())
            settings.remove(urlKey);
        else
            settings.setValue(urlKey, *url);
    }
    if (station) settings.setValue(stationKey, *station);
    Setting s;
    s.url = settings.value(urlKey).toString().trimmed();
    if (s.url.isEmpty()) return std::nullopt;
    s.station = settings.value(stationKey).toString().trimmed();
    if (s.station.isEmpty()) {
        s.station = defaultStation();
        settings.setValue(stationKey, s.station);
    }
    settings.sync();
    // The address may hold a password: the file is for this user's eyes only.
    QFile::setPermissions(settings.fileName(), QFile::ReadOwner | QFile::WriteOwner);
    return s;
}

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

void StatusLabels::follow(const record::Forwarder& forwarder) {
    const record::Forwarder* f = &forwarder;
    auto show = [this, f] {
        status_->setText(f->statusText(base::Lang::Shown));
        const QString note = f->skippedText(base::Lang::Shown);
        skipped_->setText(note);
        skipped_->setVisible(!note.isEmpty());
    };
    connect(f, &record::Forwarder::statusChanged, status_, show);
    show();
}

}  // namespace record::forward
