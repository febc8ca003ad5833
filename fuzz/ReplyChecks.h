#pragma once

#include "FuzzCheck.h"

#include "api/JsonNumberText.h"
#include "api/ReplyDecoder.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QJsonDocument>
#include <QJsonParseError>

#include <cstddef>
#include <cstdint>
#include <optional>
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

// The decoder rewrites number texts that Qt would misjudge before Qt parses the body. The rewrite must
// not change whether Qt reads the body at all; and where nothing needed rewriting, the body as Qt alone
// reads it, written out again, decodes to the same.
template <class T>
void checkAgreesWithPlainParse(QByteArrayView body, const Decoded<T> &decoded,
                               Decoded<T> (*decode)(QByteArrayView)) {
    QJsonParseError plainError{};
    const QJsonDocument plain = QJsonDocument::fromJson(body.toByteArray(), &plainError);
    if (const std::optional<QByteArray> rewritten = JsonNumberText::withExactNumbers(body)) {
        QJsonParseError rewrittenError{};
        QJsonDocument::fromJson(*rewritten, &rewrittenError);
        check((plainError.error == QJsonParseError::NoError) ==
                  (rewrittenError.error == QJsonParseError::NoError),
              "the rewrite before parsing keeps whether the body parses",
              body.toByteArray() + "\n" + *rewritten);
        return;
    }
    if (!plain.isObject())
        return;
    const QByteArray written = plain.toJson(QJsonDocument::Compact);
    const auto viaPlain = decode(written);
    const auto *expected = std::get_if<ZelkResult<T>>(&viaPlain);
    const auto *envelope = std::get_if<ZelkResult<T>>(&decoded);
    check((expected == nullptr) == (envelope == nullptr) && (!envelope || *expected == *envelope),
          "a body with nothing to rewrite decodes as Qt alone reads it",
          "direct    " + describe<T>(decoded) + "\nvia plain " + describe<T>(viaPlain));
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
