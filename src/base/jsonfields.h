#pragma once
// Typed fields read out of a JSON object by key, as every reader of the program's JSON forms reads
// them: a key left out or of another type gives the fallback; the checked forms say whether the
// field is there in the form asked.

#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <cmath>
#include <cstdint>
#include <optional>

namespace base {

class JsonFields {
  public:
    explicit JsonFields(QJsonObject o = {}) : o_(std::move(o)) {}

    bool isEmpty() const { return o_.isEmpty(); }
    bool has(const char* key) const { return o_.contains(QLatin1String(key)); }
    QJsonValue value(const char* key) const { return o_.value(QLatin1String(key)); }

    QString text(const char* key) const { return value(key).toString(); }
    double number(const char* key) const { return value(key).toDouble(); }
    // A whole number that fits an int; the fallback for anything else.
    int integer(const char* key, int fallback = 0) const { return value(key).toInt(fallback); }
    qint64 integer64(const char* key) const { return value(key).toInteger(); }
    bool flag(const char* key, bool fallback = false) const { return value(key).toBool(fallback); }
    JsonFields object(const char* key) const { return JsonFields(value(key).toObject()); }
    QJsonArray array(const char* key) const { return value(key).toArray(); }

    bool isText(const char* key) const { return value(key).isString(); }
    // A text, or the key left out.
    bool isOptionalText(const char* key) const {
        const QJsonValue v = value(key);
        return v.isUndefined() || v.isString();
    }
    // A whole number within 32 bits; nothing for a fraction, a larger number or no number.
    std::optional<int32_t> whole(const char* key) const {
        const QJsonValue v = value(key);
        if (!v.isDouble()) return std::nullopt;
        const double d = v.toDouble();
        if (d != std::trunc(d) || std::abs(d) > 2147483647.0) return std::nullopt;
        return static_cast<int32_t>(d);
    }

  private:
    QJsonObject o_;
};

}  // namespace base
