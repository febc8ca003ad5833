#pragma once

#include <gmpxx.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// An exact base-10 decimal: (-1)^negative * significand * 10^exponent.
// Prices never pass through floating point; this type is what they are multiplied in.
class Decimal {
public:
    Decimal() = default; // zero
    Decimal(bool negative, mpz_class significand, std::int64_t exponent);

    // Accepts an optional leading "-" or "+", ASCII digits and at most one "." with at least one digit
    // on either side of it or alone ("12", "-0.5", ".5", "5."). No locale, no exponent, no blanks.
    static std::optional<Decimal> parse(std::string_view text);

    // Plain text form: optional "-", integer digits (at least one), "." and fraction digits only when
    // the value has a fraction. Never exponent notation, never grouping. Zero is "0".
    std::string toString() const;

    bool isNegative() const { return m_negative; }
    const mpz_class &significand() const { return m_significand; }
    std::int64_t exponent() const { return m_exponent; }
    bool isZero() const { return m_significand == 0; }

    Decimal operator*(const Decimal &other) const;
    // Same sign and significand, exponent moved by `places` (negative: divide by a power of ten).
    Decimal shifted(std::int64_t places) const;

    bool operator==(const Decimal &other) const; // by value: 1.50 == 1.5

private:
    void normalize();

    bool m_negative = false;
    mpz_class m_significand = 0;
    std::int64_t m_exponent = 0;
};
