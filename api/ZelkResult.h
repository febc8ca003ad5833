#pragma once

#include "api/ApiFailure.h"

#include <QCborValue>
#include <QJsonObject>
#include <QString>

#include <cstdint>
#include <optional>
#include <variant>

class JsonPath;

// The reply envelope over a document type T. T provides
//   static std::variant<T, DecodeError> decode(const QCborValue &value, const JsonPath &path);
//   QJsonObject encode() const;
template <class T> struct ZelkResult {
    std::int64_t code = 0;
    std::optional<QString> message;
    std::optional<T> data;

    // `value` is the document as Qt's JSON parser read it.
    static std::variant<ZelkResult, DecodeError> decode(const QCborValue &value);
    QJsonObject encode() const;
    bool operator==(const ZelkResult &) const = default;
};
