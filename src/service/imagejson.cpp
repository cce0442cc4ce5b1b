#include "service/imagejson.h"

#include <QJsonArray>
#include <cmath>

namespace service {

namespace {

// How many elements of each block the poll cycle fills (image.h names them).
constexpr std::size_t kInputLow = 8, kLive = 10, kInputHigh = 16, kHoldingLow = 8, kParams = 48,
                      kHolding257 = 8, kBits = 16;

template <class T, std::size_t N>
QJsonArray block(const std::array<T, N>& a, std::size_t used) {
    QJsonArray out;
    for (std::size_t i = 0; i < used && i < N; ++i) {
        const double v = static_cast<double>(a[i]);
        out.append(std::isfinite(v) ? QJsonValue(v) : QJsonValue(QJsonValue::Null));
    }
    return out;
}

template <class T, std::size_t N>
void fill(std::array<T, N>& a, const QJsonValue& v, std::size_t used) {
    const QJsonArray in = v.toArray();
    for (std::size_t i = 0; i < used && i < N && i < static_cast<std::size_t>(in.size()); ++i) {
        const double d = in[static_cast<qsizetype>(i)].toDouble();
        if constexpr (std::is_integral_v<T>) {
            // Register values are 16 bits wide on the wire; anything else is no register value.
            a[i] = std::isfinite(d) && std::abs(d) <= 65535.0 ? static_cast<T>(std::lround(d)) : 0;
        } else {
            a[i] = static_cast<T>(d);
        }
    }
}

}  // namespace

QJsonObject imageJson(const comm::InstrumentImage& m) {
    return {
        {QStringLiteral("inputLow"), block(m.InputRegsLow, kInputLow)},
        {QStringLiteral("live"), block(m.LiveValues, kLive)},
        {QStringLiteral("inputHigh"), block(m.InputRegsHigh, kInputHigh)},
        {QStringLiteral("holdingLow"), block(m.HoldingRegsLow, kHoldingLow)},
        {QStringLiteral("holdingValues"), block(m.HoldingValues, kHoldingLow)},
        {QStringLiteral("params"), block(m.ParamValues, kParams)},
        {QStringLiteral("holding257"), block(m.HoldingRegs257, kHolding257)},
        {QStringLiteral("discrete"), block(m.DiscreteBits, kBits)},
        {QStringLiteral("coils"), block(m.CoilBits, kBits)},
    };
}

comm::InstrumentImage imageFromJson(const QJsonObject& o) {
    comm::InstrumentImage m;
    fill(m.InputRegsLow, o.value(QStringLiteral("inputLow")), kInputLow);
    fill(m.LiveValues, o.value(QStringLiteral("live")), kLive);
    fill(m.InputRegsHigh, o.value(QStringLiteral("inputHigh")), kInputHigh);
    fill(m.HoldingRegsLow, o.value(QStringLiteral("holdingLow")), kHoldingLow);
    fill(m.HoldingValues, o.value(QStringLiteral("holdingValues")), kHoldingLow);
    fill(m.ParamValues, o.value(QStringLiteral("params")), kParams);
    fill(m.HoldingRegs257, o.value(QStringLiteral("holding257")), kHolding257);
    fill(m.DiscreteBits, o.value(QStringLiteral("discrete")), kBits);
    fill(m.CoilBits, o.value(QStringLiteral("coils")), kBits);
    return m;
}

}  // namespace service
