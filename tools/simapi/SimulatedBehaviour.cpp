#include "SimulatedBehaviour.h"

#include <QJsonArray>

#include <array>
#include <utility>

namespace {

constexpr std::array<std::pair<const char *, SimulatedBehaviour::Kind>, 7> kindNames{{
    {"api", SimulatedBehaviour::Kind::Api},
    {"fixed", SimulatedBehaviour::Kind::Fixed},
    {"empty", SimulatedBehaviour::Kind::Empty},
    {"garbage", SimulatedBehaviour::Kind::Garbage},
    {"huge", SimulatedBehaviour::Kind::Huge},
    {"hang", SimulatedBehaviour::Kind::Hang},
    {"drop", SimulatedBehaviour::Kind::Drop},
}};

std::optional<SimulatedBehaviour> fail(QString *error, const QString &why) {
    if (error)
        *error = why;
    return std::nullopt;
}

// A whole, non-negative JSON number no larger than limit; none otherwise.
std::optional<qint64> wholeNumber(const QJsonValue &value, qint64 limit) {
    if (!value.isDouble())
        return std::nullopt;
    const double number = value.toDouble();
    if (number < 0 || number > static_cast<double>(limit) || number != static_cast<double>(qint64(number)))
        return std::nullopt;
    return static_cast<qint64>(number);
}

} // namespace

SimulatedBehaviour SimulatedBehaviour::api() {
    return {};
}

SimulatedBehaviour SimulatedBehaviour::fixed(int status, const QByteArray &body,
                                             const HttpHeaderList &headers) {
    SimulatedBehaviour behaviour;
    behaviour.kind = Kind::Fixed;
    behaviour.status = status;
    behaviour.body = body;
    behaviour.headers = headers;
    return behaviour;
}

SimulatedBehaviour SimulatedBehaviour::empty(int status) {
    SimulatedBehaviour behaviour;
    behaviour.kind = Kind::Empty;
    behaviour.status = status;
    return behaviour;
}

SimulatedBehaviour SimulatedBehaviour::garbage(qint64 size) {
    SimulatedBehaviour behaviour;
    behaviour.kind = Kind::Garbage;
    behaviour.size = size;
    return behaviour;
}

SimulatedBehaviour SimulatedBehaviour::huge(qint64 size) {
    SimulatedBehaviour behaviour;
    behaviour.kind = Kind::Huge;
    behaviour.size = size;
    return behaviour;
}

SimulatedBehaviour SimulatedBehaviour::hang() {
    SimulatedBehaviour behaviour;
    behaviour.kind = Kind::Hang;
    return behaviour;
}

SimulatedBehaviour SimulatedBehaviour::drop() {
    SimulatedBehaviour behaviour;
    behaviour.kind = Kind::Drop;
    return behaviour;
}

SimulatedBehaviour SimulatedBehaviour::delayed(int milliseconds) const {
    SimulatedBehaviour copy = *this;
    copy.delayMs = milliseconds;
    return copy;
}

SimulatedBehaviour SimulatedBehaviour::trickled(int millisecondsPerByte) const {
    SimulatedBehaviour copy = *this;
    copy.trickleMs = millisecondsPerByte;
    return copy;
}

std::optional<SimulatedBehaviour> SimulatedBehaviour::fromJson(const QJsonObject &object, QString *error) {
    static const QStringList knownKeys{"kind",        "status", "headers",  "body",
                                       "body_base64", "size",   "delay_ms", "trickle_ms"};
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (!knownKeys.contains(it.key()))
            return fail(error, QStringLiteral("unknown behaviour key \"%1\"").arg(it.key()));
    }

    SimulatedBehaviour behaviour;
    const QJsonValue kindValue = object.value(QLatin1String("kind"));
    if (!kindValue.isUndefined() && !kindValue.isString())
        return fail(error, QStringLiteral("kind must be a string"));
    const QString kind = kindValue.toString(QStringLiteral("api"));
    bool knownKind = false;
    for (const auto &[name, value] : kindNames) {
        if (kind == QLatin1String(name)) {
            behaviour.kind = value;
            knownKind = true;
        }
    }
    if (!knownKind)
        return fail(error, QStringLiteral("unknown kind \"%1\"").arg(kind));

    if (object.contains(QLatin1String("status"))) {
        const auto status = wholeNumber(object.value(QLatin1String("status")), 999);
        if (!status || *status < 100)
            return fail(error, QStringLiteral("status must be a number from 100 to 999"));
        behaviour.status = static_cast<int>(*status);
    }

    const QJsonValue headers = object.value(QLatin1String("headers"));
    if (headers.isObject()) {
        const QJsonObject map = headers.toObject();
        for (auto it = map.begin(); it != map.end(); ++it) {
            if (!it.value().isString())
                return fail(error, QStringLiteral("header values must be strings"));
            behaviour.headers.emplace_back(it.key().toUtf8(), it.value().toString().toUtf8());
        }
    } else if (headers.isArray()) {
        for (const QJsonValue &pair : headers.toArray()) {
            const QJsonArray nameValue = pair.toArray();
            if (nameValue.size() != 2 || !nameValue.at(0).isString() || !nameValue.at(1).isString())
                return fail(error, QStringLiteral("headers must be [name, value] pairs of strings"));
            behaviour.headers.emplace_back(nameValue.at(0).toString().toUtf8(),
                                           nameValue.at(1).toString().toUtf8());
        }
    } else if (!headers.isUndefined()) {
        return fail(error, QStringLiteral("headers must be an object or an array of pairs"));
    }

    if (object.contains(QLatin1String("body")) && object.contains(QLatin1String("body_base64")))
        return fail(error, QStringLiteral("give body or body_base64, not both"));
    if (object.contains(QLatin1String("body"))) {
        if (!object.value(QLatin1String("body")).isString())
            return fail(error, QStringLiteral("body must be a string"));
        behaviour.body = object.value(QLatin1String("body")).toString().toUtf8();
    }
    if (object.contains(QLatin1String("body_base64"))) {
        const auto decoded =
            QByteArray::fromBase64Encoding(object.value(QLatin1String("body_base64")).toString().toLatin1(),
                                           QByteArray::AbortOnBase64DecodingErrors);
        if (!object.value(QLatin1String("body_base64")).isString() || !decoded)
            return fail(error, QStringLiteral("body_base64 must be Base64 text"));
        behaviour.body = *decoded;
    }

    if (object.contains(QLatin1String("size"))) {
        const auto size = wholeNumber(object.value(QLatin1String("size")), qint64(1) << 50);
        if (!size)
            return fail(error, QStringLiteral("size must be a whole number >= 0"));
        behaviour.size = *size;
    }
    for (const auto &[key, target] :
         {std::pair{"delay_ms", &behaviour.delayMs}, std::pair{"trickle_ms", &behaviour.trickleMs}}) {
        if (!object.contains(QLatin1String(key)))
            continue;
        const auto value = wholeNumber(object.value(QLatin1String(key)), 24 * 3600 * 1000);
        if (!value)
            return fail(error,
                        QStringLiteral("%1 must be a whole number of milliseconds").arg(QLatin1String(key)));
        *target = static_cast<int>(*value);
    }
    return behaviour;
}
