#pragma once

#include "api/ApiFailure.h"

#include <QJsonObject>
#include <QString>

#include <cstdint>
#include <optional>
#include <variant>

// The reply envelope over a document type T. T provides
//   static std::variant<T, DecodeError> decode(const QJsonValue &value, const QString &path);
//   QJsonObject encode() const;
template <class T> struct ZelkResult {
    std::int64_t code = 0;
    std::optional<QString> message;
    std::optional<T> data;

    static std::variant<ZelkResult, DecodeError> decode(const QJsonValue &value);
    QJsonObject encode() const;
    bool operator==(const ZelkResult &) const = default;
};
