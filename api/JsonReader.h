#pragma once

#include "api/ApiFailure.h"

#include <QCborArray>
#include <QCborMap>
#include <QCborValue>
#include <QLatin1StringView>
#include <QList>
#include <QString>

#include <cstdint>
#include <optional>
#include <utility>
#include <variant>

// Where a value sits in the reply, e.g. "data.prices[0].chain". Each step lives on the stack of the
// decoder that reads it; the text is made only for a failure, which is rare, while a reply that decodes
// passes a dozen records and lists.
class JsonPath {
public:
    JsonPath() = default; // the document itself: the empty text
    JsonPath(const JsonPath &parent, QLatin1StringView key)
        : m_parent(&parent)
        , m_key(key) {}
    JsonPath(const JsonPath &parent, qsizetype index)
        : m_parent(&parent)
        , m_index(index) {}

    QString toString() const;

private:
    const JsonPath *m_parent = nullptr;
    QLatin1StringView m_key;
    qsizetype m_index = -1;
};

// Reads the members of one JSON object strictly. The first failure is kept and every later read is
// skipped, so a decoder reads its fields in order and checks error() once at the end.
//
// Values are those of the document Qt's JSON parser made, seen as CBOR values: the same data, shared,
// but looked up by key without the conversions QJsonObject makes for every lookup.
class JsonReader {
public:
    JsonReader(const QCborValue &value, const JsonPath &path);

    QString requiredString(QLatin1StringView key);
    std::optional<QString> optionalString(QLatin1StringView key);
    std::int64_t requiredInt64(QLatin1StringView key);
    std::optional<std::int64_t> optionalInt64(QLatin1StringView key);

    // T provides static std::variant<T, DecodeError> decode(const QCborValue &, const JsonPath &).
    template <class T> T requiredRecord(QLatin1StringView key);
    template <class T> std::optional<T> optionalRecord(QLatin1StringView key);
    template <class T> QList<T> requiredList(QLatin1StringView key);

    const std::optional<DecodeError> &error() const { return m_error; }

    // A JSON number with a whole value in the signed 64-bit range; anything else gives nothing.
    static std::optional<std::int64_t> wholeInt64(const QCborValue &value);

private:
    // The member's value when it is present and not null. A missing or null member gives nothing, and
    // is a failure when `required`.
    std::optional<QCborValue> member(QLatin1StringView key, bool required);
    std::optional<std::int64_t> int64Member(QLatin1StringView key, bool required);
    void fail(const JsonPath &path, QString reason);
    void failKind(QLatin1StringView key, const char *expected, const QCborValue &found);
    template <class T> std::optional<T> record(const QCborValue &value, const JsonPath &path);

    QCborMap m_map;
    const JsonPath &m_path;
    std::optional<DecodeError> m_error;
};

template <class T> std::optional<T> JsonReader::record(const QCborValue &value, const JsonPath &path) {
    auto decoded = T::decode(value, path);
    if (auto *error = std::get_if<DecodeError>(&decoded)) {
        m_error = std::move(*error);
        return std::nullopt;
    }
    return std::move(std::get<T>(decoded));
}

template <class T> T JsonReader::requiredRecord(QLatin1StringView key) {
    const auto value = member(key, true);
    if (!value)
        return T{};
    return record<T>(*value, JsonPath(m_path, key)).value_or(T{});
}

template <class T> std::optional<T> JsonReader::optionalRecord(QLatin1StringView key) {
    const auto value = member(key, false);
    if (!value)
        return std::nullopt;
    return record<T>(*value, JsonPath(m_path, key));
}

template <class T> QList<T> JsonReader::requiredList(QLatin1StringView key) {
    const auto value = member(key, true);
    if (!value)
        return {};
    if (!value->isArray()) {
        failKind(key, "an array", *value);
        return {};
    }
    const QCborArray array = value->toArray();
    const JsonPath path(m_path, key);
    QList<T> list;
    list.reserve(array.size());
    for (qsizetype i = 0; i < array.size(); ++i) {
        auto element = record<T>(array.at(i), JsonPath(path, i));
        if (!element)
            return {};
        list.append(std::move(*element));
    }
    return list;
}
