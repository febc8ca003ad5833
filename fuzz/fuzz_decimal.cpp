// Decimal text as it arrives in prices. The input is "<a>", "<a>*<b>" (a product) or "<a>@<k>" (a shift by
// k places). Every result is checked against a digit-string reference that shares no code with Decimal.
#include "FuzzCheck.h"

#include "platform/Decimal.h"

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace {

// A value as plain digits: (-1)^negative * digits * 10^exponent.
struct Reference {
    bool negative = false;
    std::string digits;
    std::int64_t exponent = 0;
};

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

std::optional<Reference> referenceParse(std::string_view text) {
    Reference r;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        r.negative = text.front() == '-';
        text.remove_prefix(1);
    }
    const auto point = text.find('.');
    const std::string_view integer = text.substr(0, point);
    const std::string_view fraction =
        point == std::string_view::npos ? std::string_view() : text.substr(point + 1);
    if (integer.empty() && fraction.empty())
        return std::nullopt;
    if (!std::all_of(integer.begin(), integer.end(), isDigit) ||
        !std::all_of(fraction.begin(), fraction.end(), isDigit))
        return std::nullopt;
    r.digits = std::string(integer) + std::string(fraction);
    r.exponent = -static_cast<std::int64_t>(fraction.size());
    return r;
}

// The plain text form: no leading zeros, no trailing fraction zeros, "0" for zero.
std::string referenceText(Reference r) {
    r.digits.erase(0, std::min(r.digits.find_first_not_of('0'), r.digits.size()));
    if (r.digits.empty())
        return "0";
    while (r.digits.back() == '0') {
        r.digits.pop_back();
        ++r.exponent;
    }
    std::string out = r.negative ? "-" : "";
    if (r.exponent >= 0)
        return out + r.digits + std::string(static_cast<std::size_t>(r.exponent), '0');
    const auto fraction = static_cast<std::size_t>(-r.exponent);
    if (r.digits.size() > fraction)
        return out + r.digits.substr(0, r.digits.size() - fraction) + "." +
               r.digits.substr(r.digits.size() - fraction);
    return out + "0." + std::string(fraction - r.digits.size(), '0') + r.digits;
}

// Schoolbook product of two digit strings.
std::string referenceProduct(const std::string &a, const std::string &b) {
    std::string product(a.size() + b.size(), '0');
    for (std::size_t i = a.size(); i-- > 0;) {
        int carry = 0;
        for (std::size_t j = b.size(); j-- > 0;) {
            const int sum = (product[i + j + 1] - '0') + (a[i] - '0') * (b[j] - '0') + carry;
            product[i + j + 1] = static_cast<char>('0' + sum % 10);
            carry = sum / 10;
        }
        product[i] = static_cast<char>(product[i] + carry);
    }
    return product;
}

QByteArray detail(std::string_view input, const std::string &got, const std::string &expected) {
    return QByteArray("input ") + QByteArray(input.data(), static_cast<qsizetype>(input.size())) +
           "\ngot      " + got.c_str() + "\nexpected " + expected.c_str();
}

// Parses `text` both ways; they must agree on whether it is a number and on its text form, and the text
// form must read back as the same value.
std::optional<std::pair<Decimal, Reference>> parseBoth(std::string_view text) {
    const auto decimal = Decimal::parse(text);
    const auto reference = referenceParse(text);
    check(decimal.has_value() == reference.has_value(), "parse accepts exactly the decimal texts",
          detail(text, decimal ? "a value" : "nothing", reference ? "a value" : "nothing"));
    if (!decimal)
        return std::nullopt;
    const std::string shown = decimal->toString();
    check(shown == referenceText(*reference), "toString is the plain text form",
          detail(text, shown, referenceText(*reference)));
    const auto again = Decimal::parse(shown);
    check(again && *again == *decimal, "toString reads back as the same value", detail(text, shown, shown));
    return std::pair{*decimal, *reference};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char *>(data), size);
    parseBoth(input);

    if (const auto star = input.find('*'); star != std::string_view::npos) {
        const auto a = parseBoth(input.substr(0, star));
        const auto b = parseBoth(input.substr(star + 1));
        if (a && b && a->second.digits.size() + b->second.digits.size() <= 512) {
            const Decimal product = a->first * b->first;
            check(product == b->first * a->first, "multiplication commutes");
            const Reference expected{a->second.negative != b->second.negative,
                                     referenceProduct(a->second.digits, b->second.digits),
                                     a->second.exponent + b->second.exponent};
            check(product.toString() == referenceText(expected), "the product is exact",
                  detail(input, product.toString(), referenceText(expected)));
        }
    }

    if (const auto at = input.find('@'); at != std::string_view::npos) {
        const auto a = parseBoth(input.substr(0, at));
        const std::string_view placesText = input.substr(at + 1);
        std::int64_t places = 0;
        const auto [end, error] =
            std::from_chars(placesText.data(), placesText.data() + placesText.size(), places);
        // Shifts stay small: callers move by nine places, and a huge exponent only makes a huge text.
        if (a && error == std::errc() && end == placesText.data() + placesText.size() && places >= -4096 &&
            places <= 4096) {
            const Decimal moved = a->first.shifted(places);
            Reference expected = a->second;
            expected.exponent += places;
            check(moved.toString() == referenceText(expected), "a shift moves the point",
                  detail(input, moved.toString(), referenceText(expected)));
            check(moved.shifted(-places) == a->first, "a shift is undone by the opposite shift");
            check(moved == a->first * Decimal(false, 1, places), "a shift is a product with a power of ten");
        }
    }
    return 0;
}
