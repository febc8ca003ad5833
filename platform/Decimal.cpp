#include "platform/Decimal.h"

#include <utility>

Decimal::Decimal(bool negative, mpz_class significand, std::int64_t exponent)
    : m_negative(negative)
    , m_significand(std::move(significand))
    , m_exponent(exponent) {
    if (m_significand < 0) {
        m_significand = -m_significand;
        m_negative = !m_negative;
    }
    normalize();
}

std::optional<Decimal> Decimal::parse(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    std::string digits;
    digits.reserve(text.size());
    std::int64_t fractionDigits = 0;
    bool seenPoint = false;
    for (char c : text) {
        if (c >= '0' && c <= '9') {
            digits.push_back(c);
            if (seenPoint)
                ++fractionDigits;
        } else if (c == '.' && !seenPoint) {
            seenPoint = true;
        } else {
            return std::nullopt;
        }
    }
    if (digits.empty())
        return std::nullopt;
    // Only ASCII digits reach mpz_set_str, so its tolerance of blanks never matters.
    mpz_class significand;
    if (significand.set_str(digits, 10) != 0)
        return std::nullopt;
    return Decimal(negative, std::move(significand), -fractionDigits);
}

void Decimal::normalize() {
    if (m_significand == 0) {
        m_negative = false;
        m_exponent = 0;
        return;
    }
    // Trailing zeros move into the exponent, so equal values have one representation. Most values have
    // none or a few (prices times 2100), which exact divisions by ten take off far cheaper than a
    // removal; a long run (a reply may carry a million zeros) goes in one mpz_remove, not a division
    // per zero.
    mpz_ptr significand = m_significand.get_mpz_t();
    for (int few = 0; few < 8; ++few) {
        if (!mpz_divisible_ui_p(significand, 10))
            return;
        mpz_divexact_ui(significand, significand, 10);
        ++m_exponent;
    }
    if (!mpz_divisible_ui_p(significand, 10))
        return;
    m_exponent += static_cast<std::int64_t>(mpz_remove(significand, significand, mpz_class(10).get_mpz_t()));
}

std::string Decimal::toString() const {
    std::string digits = m_significand.get_str(10);
    std::string out;
    if (m_negative)
        out.push_back('-');
    if (m_exponent >= 0) {
        out += digits;
        if (m_significand != 0)
            out.append(static_cast<std::size_t>(m_exponent), '0');
        return out;
    }
    const auto fraction = static_cast<std::size_t>(-m_exponent);
    if (digits.size() > fraction) {
        out.append(digits, 0, digits.size() - fraction);
        out.push_back('.');
        out.append(digits, digits.size() - fraction, std::string::npos);
    } else {
        out += "0.";
        out.append(fraction - digits.size(), '0');
        out += digits;
    }
    return out;
}

Decimal Decimal::operator*(const Decimal &other) const {
    return Decimal(m_negative != other.m_negative, m_significand * other.m_significand,
                   m_exponent + other.m_exponent);
}

Decimal Decimal::shifted(std::int64_t places) const {
    // The significand is already normalised: only the exponent moves (zero keeps exponent 0).
    Decimal result = *this;
    if (m_significand != 0)
        result.m_exponent += places;
    return result;
}

bool Decimal::operator==(const Decimal &other) const {
    return m_negative == other.m_negative && m_significand == other.m_significand &&
           m_exponent == other.m_exponent;
}
