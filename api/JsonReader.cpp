#include "api/JsonReader.h"

namespace {

// The JSON kind of a value from Qt's JSON parser: a number is an integer or a double there.
QLatin1StringView kindName(const QCborValue &value) {
    switch (value.type()) {
    case QCborValue::Null:
        return QLatin1StringView("null");
    case QCborValue::False:
    case QCborValue::True:
        return QLatin1StringView("a boolean");
    case QCborValue::Integer:
    case QCborValue::Double:
        return QLatin1StringView("a number");
    case QCborValue::String:
        return QLatin1StringView("a string");
    case QCborValue::Array:
        return QLatin1StringView("an array");
    case QCborValue::Map:
        return QLatin1StringView("an object");
    default:
        break;
    }
    return QLatin1StringView("nothing");
}

} // namespace

QString JsonPath::toString() const {
    if (!m_parent)
        return QString();
    QString text = m_parent->toString();
    if (m_index >= 0)
        return text.append(u'[').append(QString::number(m_index)).append(u']');
    if (text.isEmpty())
        return QString(m_key);
    return text.append(u'.').append(m_key);
}

JsonReader::JsonReader(const QCborValue &value, const JsonPath &path)
    : m_path(path) {
    if (value.isMap())
        m_map = value.toMap();
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

std::optional<std::int64_t> JsonReader::wholeInt64(const QCborValue &value) {
    // Before parsing, every number text that Qt would misjudge was rewritten (JsonNumberText): an
    // integer here is the exact value of its text, and what Qt holds as a double is a fraction or out
    // of range.
    if (value.isInteger())
        return value.toInteger();
    return std::nullopt;
}

std::optional<QCborValue> JsonReader::member(QLatin1StringView key, bool required) {
    if (m_error)
        return std::nullopt;
    const auto found = m_map.constFind(key);
    QCborValue value = found == m_map.constEnd() ? QCborValue(QCborValue::Undefined) : found.value();
    if (value.isUndefined() || value.isNull()) {
        if (required)
            fail(JsonPath(m_path, key), value.isNull() ? QStringLiteral("required, found null")
                                                       : QStringLiteral("required, missing"));
        return std::nullopt;
    }
    return value;
}

void JsonReader::fail(const JsonPath &path, QString reason) {
    if (!m_error)
        m_error = DecodeError{path.toString(), std::move(reason)};
}

void JsonReader::failKind(QLatin1StringView key, const char *expected, const QCborValue &found) {
    fail(JsonPath(m_path, key), QLatin1StringView("expected ") + QLatin1StringView(expected) +
                                    QLatin1StringView(", found ") + kindName(found));
}
