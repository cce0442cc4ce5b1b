#pragma once
// A window of the instrument's registers over a bare link, as the windows' own tests run them:
// the link's image and reads feed it, the link's answers come back to it, and its writes go
// through the link.

#include <QObject>

#include "comm/link.h"
#include "instrument/feed.h"

namespace testing_support {

// Reads go to the link always, or (as a chamber does) only while it polls.
inline instrument::Feed feedOf(comm::Link& link, bool onlyWhilePolling) {
    return {[&link]() -> const comm::InstrumentImage& { return link.image(); },
            [&link, onlyWhilePolling](int32_t first, int32_t count) -> quint64 {
                if (onlyWhilePolling && !link.polling()) return 0;
                return link.readHolding(first, count);
            }};
}

template <class Window>
void wireToLink(Window& window, comm::Link& link) {
    QObject::connect(
        &link, &comm::Link::readFinished, &window,
        [w = &window](quint64 id, int32_t first, const QVector<int32_t>& values, int32_t status) {
            w->holdingRead(id, first, values, status == 0);
        });
    window.writeSender()->sendThrough(link);
}

}  // namespace testing_support
