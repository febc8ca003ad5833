#include "api/JsonReader.h"

#include <QMetaType>
#include <QVariant>

namespace {

QLatin1StringView kindName(const QJsonValue &value) {
    switch (value.type()) {
    case QJsonValue::Null:
        return QLatin1StringView("null");
    case QJsonValue::Bool:
        return QLatin1StringView("a boolean");
    case QJsonValue::Double:
        return QLatin1StringView("a number");
    case QJsonValue::String:
        return QLatin1StringView("a string");
    case QJsonValue::Array:
        return QLatin1StringView("an array");
    case QJsonValue::Object:
        return QLatin1StringView("an object");
    case QJsonValue::Undefined:
        break;
    }
    return QLatin1StringView("nothing");
}

} // namespace

JsonReader::JsonReader(const QJsonValue &value, const QString &path)
    : m_path(path) {
    if (value.isObject())
        m_object = value.toObject();
    else
        fail(path, QLatin1StringView("expected an object, found ") + kindName(value));
}

QString JsonReader::requiredString(QLatin1StringView key) {
    const auto value = member(key, true);
    if (!value)
        return {};
    if (!value->isString()) {
        failKind(key, "a string", *value);
        return {};
    }
    return value->toString();
}

std::optional<QString> JsonReader::optionalString(QLatin1StringView key) {
    const auto value = member(key, false);
    if (!value)
        return std::nullopt;
    if (!value->isString()) {
        failKind(key, "a string", *value);
        return std::nullopt;
    }
    return value->toString();
}

std::int64_t JsonReader::requiredInt64(QLatin1StringView key) {
    return int64Member(key, true).value_or(0);
}

std::optional<std::int64_t> JsonReader::optionalInt64(QLatin1StringView key) {
    return int64Member(key, false);
}

std::optional<std::int64_t> JsonReader::int64Member(QLatin1StringView key, bool required) {
    const auto value = member(key, required);
    if (!value)
        return std::nullopt;
    const auto whole = wholeInt64(*value);
    if (!whole)
        failKind(key, "a whole number in the signed 64-bit range", *value);
    return whole;
}

std::optional<std::int64_t> JsonReader::wholeInt64(const QJsonValue &value) {
    if (!value.isDouble())
        return std::nullopt;
    // Before parsing, every number text that Qt would misjudge was rewritten (JsonNumberText): an
    // integer here is the exact value of its text, and what Qt holds as a double is a fraction or out
    // of range.
    const QVariant variant = value.toVariant();
    if (variant.typeId() == QMetaType::LongLong)
        return variant.toLongLong();
    return std::nullopt;
}

QString JsonReader::memberPath(const QString &path, QLatin1StringView key) {
    if (path.isEmpty())
        return QString(key);
    // One allocation: every record read on the way to a price makes its path, failing or not.
    QString out;
    out.reserve(path.size() + 1 + key.size());
    out.append(path).append(u'.').append(key);
    return out;
}

std::optional<QJsonValue> JsonReader::member(QLatin1StringView key, bool required) {
    if (m_error)
        return std::nullopt;
    const QJsonValue value = m_object.value(key);
    if (value.isUndefined() || value.isNull()) {
        if (required)
            fail(memberPath(m_path, key), value.isNull() ? QStringLiteral("required, found null")
                                                         : QStringLiteral("required, missing"));
        return std::nullopt;
    }
    return value;
}

void JsonReader::fail(QString path, QString reason) {
    if (!m_error)
        m_error = DecodeError{std::move(path), std::move(reason)};
}

void JsonReader::failKind(QLatin1StringView key, const char *expected, const QJsonValue &found) {
    fail(memberPath(m_path, key), QLatin1StringView("expected ") + QLatin1StringView(expected) +
                                      QLatin1StringView(", found ") + kindName(found));
}
