#pragma once

#include "api/ApiFailure.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QLatin1StringView>
#include <QList>
#include <QString>

#include <cstdint>
#include <optional>
#include <utility>
#include <variant>

// Reads the members of one JSON object strictly. The first failure is kept and every later read is
// skipped, so a decoder reads its fields in order and checks error() once at the end.
class JsonReader {
public:
    JsonReader(const QJsonValue &value, const QString &path);

    QString requiredString(QLatin1StringView key);
    std::optional<QString> optionalString(QLatin1StringView key);
    std::int64_t requiredInt64(QLatin1StringView key);
    std::optional<std::int64_t> optionalInt64(QLatin1StringView key);

    // T provides static std::variant<T, DecodeError> decode(const QJsonValue &, const QString &path).
    template <class T> T requiredRecord(QLatin1StringView key);
    template <class T> std::optional<T> optionalRecord(QLatin1StringView key);
    template <class T> QList<T> requiredList(QLatin1StringView key);

    const std::optional<DecodeError> &error() const { return m_error; }

    // A JSON number with a whole value in the signed 64-bit range; anything else gives nothing.
    static std::optional<std::int64_t> wholeInt64(const QJsonValue &value);

private:
    static QString memberPath(const QString &path, QLatin1StringView key);
    // The member's value when it is present and not null. A missing or null member gives nothing, and
    // is a failure when `required`.
    std::optional<QJsonValue> member(QLatin1StringView key, bool required);
    std::optional<std::int64_t> int64Member(QLatin1StringView key, bool required);
    void fail(QString path, QString reason);
    void failKind(QLatin1StringView key, const char *expected, const QJsonValue &found);
    template <class T> std::optional<T> record(const QJsonValue &value, const QString &path);

    QJsonObject m_object;
    QString m_path;
    std::optional<DecodeError> m_error;
};

template <class T> std::optional<T> JsonReader::record(const QJsonValue &value, const QString &path) {
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
    return record<T>(*value, memberPath(m_path, key)).value_or(T{});
}

template <class T> std::optional<T> JsonReader::optionalRecord(QLatin1StringView key) {
    const auto value = member(key, false);
    if (!value)
        return std::nullopt;
    return record<T>(*value, memberPath(m_path, key));
}

template <class T> QList<T> JsonReader::requiredList(QLatin1StringView key) {
    const auto value = member(key, true);
    if (!value)
        return {};
    if (!value->isArray()) {
        failKind(key, "an array", *value);
        return {};
    }
    const QJsonArray array = value->toArray();
    const QString path = memberPath(m_path, key);
    QList<T> list;
    list.reserve(array.size());
    for (qsizetype i = 0; i < array.size(); ++i) {
        QString elementPath;
        elementPath.reserve(path.size() + 22);
        elementPath.append(path).append(u'[').append(QString::number(i)).append(u']');
        auto element = record<T>(array.at(i), elementPath);
        if (!element)
            return {};
        list.append(std::move(*element));
    }
    return list;
}
