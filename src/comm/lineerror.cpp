#include "comm/lineerror.h"

namespace comm {

namespace {

using Kind = LineError::Kind;
using Cause = LineError::Cause;

struct KindWords {
    const char* code;
    const char* text;  // %1 the number, or the cause; OpenFailed: port, device, cause
};

// In Kind order.
constexpr KindWords kKinds[] = {
    {"", ""},
    {"noDevice", QT_TRANSLATE_NOOP("velmars", "端口 %1 无法打开：无对应设备")},
    {"notOpened", QT_TRANSLATE_NOOP("velmars", "端口 %1 无法打开")},
    {"openFailed", QT_TRANSLATE_NOOP("velmars", "端口 %1（%2）无法打开：%3")},
    {"notOpen", QT_TRANSLATE_NOOP("velmars", "端口未打开")},
    {"badAddress", QT_TRANSLATE_NOOP("velmars", "模块地址 %1 无效")},
    {"outOfRange", QT_TRANSLATE_NOOP("velmars", "超出寄存器范围")},
    {"timeout", QT_TRANSLATE_NOOP("velmars", "仪表无应答（超时）")},
    {"badCrc", QT_TRANSLATE_NOOP("velmars", "CRC校验错误")},
    {"badAnswer", QT_TRANSLATE_NOOP("velmars", "应答格式错误")},
    {"exception", QT_TRANSLATE_NOOP("velmars", "异常应答，代码 %1")},
    {"deviceGone", QT_TRANSLATE_NOOP("velmars", "设备已断开（%1）")},
    {"connectionLost", QT_TRANSLATE_NOOP("velmars", "连接已断开（%1）")},
    {"failed", "%1"},
    {"noAnswer", QT_TRANSLATE_NOOP("velmars", "仪表无应答")},
    {"stopped", QT_TRANSLATE_NOOP("velmars", "通讯已停止")},
    {"awaitingDevice", QT_TRANSLATE_NOOP("velmars", "设备已断开，等待重新连接")},
};

// In Cause order.
constexpr KindWords kCauses[] = {
    {"system", ""},
    {"refused", QT_TRANSLATE_NOOP("velmars", "连接被拒绝")},
    {"hostSilent", QT_TRANSLATE_NOOP("velmars", "主机无应答")},
    {"gatewayClosed", QT_TRANSLATE_NOOP("velmars", "网关关闭了连接")},
};

template <class E, size_t N>
std::optional<E> ofCode(const KindWords (&words)[N], const QString& code) {
    for (size_t i = 0; i < N; ++i)
        if (code == QLatin1String(words[i].code)) return static_cast<E>(i);
    return std::nullopt;
}

}  // namespace

QString LineError::text(base::Lang lang) const {
    if (kind == Kind::None) return {};
    // The system's words stay as the system gave them.
    const QString why = cause == Cause::System
                            ? system
                            : base::wording(kCauses[static_cast<int>(cause)].text, lang);
    const char* source = kKinds[static_cast<int>(kind)].text;
    const QString words = kind == Kind::Failed ? QStringLiteral("%1") : base::wording(source, lang);
    switch (kind) {
        case Kind::NoDevice:
        case Kind::NotOpened:
        case Kind::BadAddress:
        case Kind::Exception:
            return words.arg(number);
        case Kind::OpenFailed:
            return words.arg(QString::number(number), device, why);
        case Kind::DeviceGone:
            // Which device went away says what happened in the operator's language; the system's
            // words (in its own language) only where the device is not known.
            return words.arg(device.isEmpty() ? why : device);
        case Kind::ConnectionLost:
        case Kind::Failed:
            return words.arg(why);
        default:
            return words;
    }
}

QStringList LineError::values() const {
    if (kind == Kind::None) return {};
    return {QString::fromLatin1(kKinds[static_cast<int>(kind)].code), QString::number(number),
            device, QString::fromLatin1(kCauses[static_cast<int>(cause)].code), system};
}

LineError LineError::fromValues(const QStringList& values) {
    LineError e;
    const auto kind = ofCode<Kind>(kKinds, values.value(0));
    if (!kind || values.value(0).isEmpty()) return e;
    e.kind = *kind;
    e.number = values.value(1).toInt();
    e.device = values.value(2);
    e.cause = ofCode<Cause>(kCauses, values.value(3)).value_or(Cause::System);
    e.system = values.value(4);
    return e;
}

}  // namespace comm
