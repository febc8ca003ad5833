#include "api/JsonNumberText.h"

#include <algorithm>
#include <charconv>

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// One number text as Qt's parser delimits it: "-"?, then "0" or digits, then "." and digits, then "e"
// or "E", a sign and digits; every run of digits may be empty.
struct NumberParts {
    bool negative = false;
    std::string_view integer;
    bool hasFraction = false;
    std::string_view fraction;
    bool hasExponent = false;
    bool exponentNegative = false;
    std::string_view exponent;
    std::size_t length = 0;
};

NumberParts split(std::string_view text) {
    NumberParts parts;
    std::size_t i = 0;
    const auto digits = [&] {
        const std::size_t start = i;
        while (i < text.size() && isDigit(text[i]))
            ++i;
        return text.substr(start, i - start);
    };
    if (i < text.size() && text[i] == '-') {
        parts.negative = true;
        ++i;
    }
    if (i < text.size() && text[i] == '0')
        parts.integer = text.substr(i++, 1);
    else
        parts.integer = digits();
    if (i < text.size() && text[i] == '.') {
        parts.hasFraction = true;
        ++i;
        parts.fraction = digits();
    }
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        parts.hasExponent = true;
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-'))
            parts.exponentNegative = text[i++] == '-';
        parts.exponent = digits();
    }
    parts.length = i;
    return parts;
}

bool isNumber(const NumberParts &parts) {
    return (!parts.integer.empty() || !parts.fraction.empty()) &&
           (!parts.hasExponent || !parts.exponent.empty());
}

std::optional<std::int64_t> judge(const NumberParts &parts) {
    const std::size_t count = parts.integer.size() + parts.fraction.size();
    const auto digitAt = [&](std::size_t k) {
        return k < parts.integer.size() ? parts.integer[k] : parts.fraction[k - parts.integer.size()];
    };
    std::size_t first = 0;
    while (first < count && digitAt(first) == '0')
        ++first;
    if (first == count)
        return 0;
    std::size_t last = count - 1;
    while (digitAt(last) == '0')
        --last;

    // Far beyond the length of any text, an exponent decides on its own; saturating keeps the sums
    // below in range whatever its number of digits.
    constexpr std::int64_t exponentCap = std::int64_t(1) << 48;
    std::int64_t exponent = 0;
    for (const char c : parts.exponent)
        exponent = std::min(exponentCap, exponent * 10 + (c - '0'));
    if (parts.exponentNegative)
        exponent = -exponent;

    // The value is digits first..last times 10^scale, with no zero at either end of those digits.
    const std::int64_t scale =
        exponent - std::int64_t(parts.fraction.size()) + std::int64_t(count - 1 - last);
    const std::int64_t significant = std::int64_t(last - first + 1);
    if (scale < 0 || significant + scale > 19) // a fraction, or at least 10^19
        return std::nullopt;

    char text[21];
    std::size_t n = 0;
    if (parts.negative)
        text[n++] = '-';
    for (std::size_t k = first; k <= last; ++k)
        text[n++] = digitAt(k);
    for (std::int64_t zero = 0; zero < scale; ++zero)
        text[n++] = '0';
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text, text + n, value);
    if (error != std::errc() || end != text + n)
        return std::nullopt;
    return value;
}

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// What may follow a number in a document that parses. Anything else fails the document whatever the
// number, and a rewritten number must not run into it ("1.0" before ".5" would make "1.5").
bool endsValue(char c) {
    return c == ',' || c == ']' || c == '}' || isSpace(c);
}

// The text the parser is to read in place of `token`, when it would misjudge it.
std::optional<QByteArray> exactForm(const NumberParts &parts, std::string_view token) {
    // Up to 18 digits with nothing more, the parser reads an integer exactly.
    if (!parts.hasFraction && !parts.hasExponent && parts.integer.size() <= 18)
        return std::nullopt;
    if (!isNumber(parts))
        return std::nullopt;
    // A number the parser refuses (beyond the double range) fails the document either way.
    bool parses = false;
    QByteArray::fromRawData(token.data(), qsizetype(token.size())).toDouble(&parses);
    if (!parses)
        return std::nullopt;
    if (const std::optional<std::int64_t> value = judge(parts)) {
        QByteArray plain = QByteArray::number(qint64(*value));
        if (std::string_view(plain.constData(), std::size_t(plain.size())) == token)
            return std::nullopt;
        return plain;
    }
    return QByteArrayLiteral("0.5");
}

} // namespace

std::optional<std::int64_t> JsonNumberText::exactInt64(std::string_view text) {
    const NumberParts parts = split(text);
    if (parts.length != text.size() || !isNumber(parts))
        return std::nullopt;
    return judge(parts);
}

std::optional<QByteArray> JsonNumberText::withExactNumbers(QByteArrayView body) {
    const char *text = body.data();
    const std::size_t size = std::size_t(body.size());
    std::optional<QByteArray> out;
    std::size_t copied = 0; // body[0, copied) is in `out`
    bool inString = false;
    char previous = 0; // the last character outside strings and white space
    for (std::size_t i = 0; i < size; ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                inString = false;
            continue;
        }
        if (c == '"')
            inString = true;
        const bool startsNumber =
            (isDigit(c) || c == '-' || c == '.') && (previous == ':' || previous == '[' || previous == ',');
        if (!isSpace(c))
            previous = c;
        if (!startsNumber)
            continue;
        const NumberParts parts = split(std::string_view(text + i, size - i));
        const std::size_t end = i + parts.length; // past at least `c`
        if (end < size && endsValue(text[end])) {
            if (auto replacement = exactForm(parts, std::string_view(text + i, parts.length))) {
                if (!out) {
                    out.emplace();
                    out->reserve(body.size());
                }
                out->append(text + copied, qsizetype(i - copied));
                out->append(*replacement);
                copied = end;
            }
        }
        i = end - 1;
        previous = text[i];
    }
    if (out)
        out->append(text + copied, qsizetype(size - copied));
    return out;
}
