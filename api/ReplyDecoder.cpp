#include "api/ReplyDecoder.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

#include <cstring>

using namespace Qt::StringLiterals;

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// The parser keeps an integer literal outside the int64 range as a double. From -9223372036854775809
// to a few hundred below, that double is exactly INT64_MIN and would pass as an in-range value.
// Returns the end of such a literal's digits, or 0.
qsizetype negativeOverflowEnd(const char *text, qsizetype size, qsizetype minus) {
    static constexpr char minMagnitude[] = "9223372036854775808";
    constexpr qsizetype digits = sizeof(minMagnitude) - 1;
    const qsizetype first = minus + 1;
    qsizetype end = first;
    while (end < size && isDigit(text[end]))
        ++end;
    if (end - first != digits || std::memcmp(text + first, minMagnitude, digits) <= 0)
        return 0;
    if (minus > 0 && (text[minus - 1] == 'e' || text[minus - 1] == 'E'))
        return 0; // an exponent
    if (end < size && (text[end] == '.' || text[end] == 'e' || text[end] == 'E'))
        return 0; // a fraction or exponent form is read through a double anyway
    return end;
}

bool mayHoldNegativeOverflow(QByteArrayView body) {
    const char *text = body.data();
    const qsizetype size = body.size();
    for (const char *minus = static_cast<const char *>(std::memchr(text, '-', size)); minus;) {
        const qsizetype at = minus - text;
        if (negativeOverflowEnd(text, size, at) != 0)
            return true;
        minus = static_cast<const char *>(std::memchr(minus + 1, '-', size - at - 1));
    }
    return false;
}

// Appends a digit to every such literal outside strings, which moves it far out of range so that it
// fails as it should. Strings and all other numbers stay as they are.
QByteArray widenNegativeOverflow(QByteArrayView body) {
    QByteArray out;
    out.reserve(body.size() + 16);
    const char *text = body.data();
    const qsizetype size = body.size();
    bool inString = false;
    for (qsizetype i = 0; i < size; ++i) {
        const char c = text[i];
        out.append(c);
        if (inString) {
            if (c == '\\' && i + 1 < size)
                out.append(text[++i]);
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '-') {
            if (const qsizetype end = negativeOverflowEnd(text, size, i)) {
                out.append(text + i + 1, end - i - 1);
                out.append('0');
                i = end - 1;
            }
        }
    }
    return out;
}

std::variant<QJsonValue, DecodeError> parse(QByteArrayView body) {
    if (body.isEmpty())
        return DecodeError{QString(), u"empty body"_s};
    const QByteArray json = mayHoldNegativeOverflow(body) ? widenNegativeOverflow(body) : body.toByteArray();
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError)
        return DecodeError{QString(),
                           u"not JSON: %1 at offset %2"_s.arg(error.errorString()).arg(error.offset)};
    if (document.isArray())
        return QJsonValue(document.array());
    return QJsonValue(document.object());
}

template <class T> std::variant<ZelkResult<T>, DecodeError> decodeReply(QByteArrayView body) {
    auto parsed = parse(body);
    if (auto *error = std::get_if<DecodeError>(&parsed))
        return std::move(*error);
    return ZelkResult<T>::decode(std::get<QJsonValue>(parsed));
}

} // namespace

std::variant<ZelkResult<TokenPriceResponse>, DecodeError> decodeTokenPriceReply(QByteArrayView body) {
    return decodeReply<TokenPriceResponse>(body);
}

std::variant<ZelkResult<EthereumOracleGasPrice>, DecodeError> decodeGasPriceReply(QByteArrayView body) {
    return decodeReply<EthereumOracleGasPrice>(body);
}
