#pragma once

#include "FuzzCheck.h"

#include "api/ReplyDecoder.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QJsonDocument>

#include <cstddef>
#include <cstdint>
#include <utility>
#include <variant>

template <class T> using Decoded = std::variant<ZelkResult<T>, DecodeError>;

template <class T> QByteArray describe(const Decoded<T> &decoded) {
    if (const auto *envelope = std::get_if<ZelkResult<T>>(&decoded))
        return QJsonDocument(envelope->encode()).toJson(QJsonDocument::Compact);
    const DecodeError &error = std::get<DecodeError>(decoded);
    return "decode error at '" + error.path.toUtf8() + "': " + error.reason.toUtf8();
}

// Whatever decodes must encode to bytes that decode to an equal envelope.
template <class T> void checkReencodes(const ZelkResult<T> &envelope, Decoded<T> (*decode)(QByteArrayView)) {
    const QByteArray encoded = QJsonDocument(envelope.encode()).toJson(QJsonDocument::Compact);
    const auto again = decode(encoded);
    const auto *second = std::get_if<ZelkResult<T>>(&again);
    check(second != nullptr, "an encoded envelope decodes", encoded + "\n" + describe<T>(again));
    check(*second == envelope, "an encoded envelope decodes to an equal value",
          encoded + "\n" + describe<T>(again));
}

// The decoder rewrites the body before Qt parses it (integer literals just below the int64 range). That
// rewrite must change nothing else: the body as Qt alone reads it, written out again, decodes the same,
// except where Qt alone rounds such a literal to -2^63.
template <class T>
void checkAgreesWithPlainParse(QByteArrayView body, const Decoded<T> &decoded,
                               Decoded<T> (*decode)(QByteArrayView)) {
    const QJsonDocument plain = QJsonDocument::fromJson(body.toByteArray());
    if (!plain.isObject())
        return;
    const QByteArray written = plain.toJson(QJsonDocument::Compact);
    const auto viaPlain = decode(written);
    const auto *expected = std::get_if<ZelkResult<T>>(&viaPlain);
    if (const auto *envelope = std::get_if<ZelkResult<T>>(&decoded)) {
        check(expected && *expected == *envelope, "the rewrite before parsing changes no value",
              "direct    " + describe<T>(decoded) + "\nvia plain " + describe<T>(viaPlain));
    } else if (expected) {
        check(written.contains("-9223372036854775808"), "only literals below the int64 range are refused",
              "direct    " + describe<T>(decoded) + "\nvia plain " + describe<T>(viaPlain));
    }
}

template <class T>
void checkReply(const std::uint8_t *data, std::size_t size, Decoded<T> (*decode)(QByteArrayView)) {
    const QByteArrayView body(data, static_cast<qsizetype>(size));
    auto decoded = decode(body);
    if (const auto *envelope = std::get_if<ZelkResult<T>>(&decoded))
        checkReencodes<T>(*envelope, decode);
    checkAgreesWithPlainParse<T>(body, decoded, decode);
    // The caller's view of the same envelope must not trip over anything the decoder let through.
    (void)outcomeOf<T>(std::move(decoded));
}
