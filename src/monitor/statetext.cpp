#include "monitor/statetext.h"

#include "base/text.h"

namespace monitor {

QString programStateText(int32_t code) {
    switch (code) {
        case 0:
            return QStringLiteral("停止  ");
        case 1:
            return QStringLiteral("运行");
        case 2:
            return QStringLiteral("暂停");
        case 3:
            return QStringLiteral("结束");
        default:
            return base::intText(code);
    }
}

}  // namespace monitor
