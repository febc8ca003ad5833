#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <cstdint>
#include <optional>
#include <string_view>

// Qt reads a JSON number with a fraction or an exponent, and an integer beyond 64 bits, through a
// double, and keeps a whole double as an integer: 9007199254740993.5 arrives as 9007199254740994 and
// -9223372036854775809 as INT64_MIN. These judge a number from its own text instead.
namespace JsonNumberText {

// The value of a number text, in the number grammar Qt's JSON parser reads, when it is whole and within
// the signed 64-bit range, however it is spelt ("2.0", "1e3", "9223372036854775807.0"); nothing for a
// fraction, a value outside the range or a text that is no number.
std::optional<std::int64_t> exactInt64(std::string_view text);

// `body` with each number text (outside strings) that Qt would misjudge written so that it cannot:
// a whole number in range as its plain integer text, anything else that Qt accepts as "0.5". A number
// Qt refuses, and so the document as a whole, is left as it is. Nothing when no number needs it.
// Linear in the body's size, whatever its exponents.
std::optional<QByteArray> withExactNumbers(QByteArrayView body);

} // namespace JsonNumberText
