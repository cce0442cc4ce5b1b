#include "mqtt/status.h"

#include <QtGlobal>

namespace mqtt {

namespace {

const char* faultSource(Fault f) {
    switch (f) {
        case Fault::None:
            break;
        case Fault::Unreachable:
            return QT_TRANSLATE_NOOP("velmars", "无法连接服务器");
        case Fault::BadLogin:
            return QT_TRANSLATE_NOOP("velmars", "用户名或密码错误");
        case Fault::NotAuthorized:
            return QT_TRANSLATE_NOOP("velmars", "服务器拒绝登录 (用户名、密码或权限)");
        case Fault::Tls:
            return QT_TRANSLATE_NOOP("velmars", "TLS 证书不符或握手失败");
        case Fault::Lost:
            return QT_TRANSLATE_NOOP("velmars", "连接中断");
        case Fault::Protocol:
            return QT_TRANSLATE_NOOP("velmars", "服务器不接受协议或客户端标识");
    }
    return QT_TRANSLATE_NOOP("velmars", "连接中断");
}

}  // namespace

QString statusText(const Status& s, base::Lang lang) {
    using base::wording;
    switch (s.state) {
        case State::Connected:
            if (s.pending > 0)
                return wording(QT_TRANSLATE_NOOP("velmars", "MQTT: 已连接 %1 (%2 条待发)"), lang)
                    .arg(s.broker)
                    .arg(s.pending);
            return wording(QT_TRANSLATE_NOOP("velmars", "MQTT: 已连接 %1"), lang).arg(s.broker);
        case State::Connecting:
            return wording(QT_TRANSLATE_NOOP("velmars", "MQTT: 正在连接 %1"), lang).arg(s.broker);
        case State::Down:
            break;
    }
    return wording(QT_TRANSLATE_NOOP("velmars", "MQTT: 未连接 %1: %2 (%3 条待发)"), lang)
        .arg(s.broker, wording(faultSource(s.fault), lang))
        .arg(s.pending);
}

}  // namespace mqtt
