#include "store/BigUInt.h"

#include <algorithm>
#include <utility>

BigUInt::BigUInt(mpz_class value)
    : m_value(std::move(value)) {}

std::optional<BigUInt> BigUInt::parse(std::string_view text) {
    // mpz_set_str skips white space anywhere and would read " 1 0" as 10, so it only ever sees digits.
    if (text.empty() || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    mpz_class value;
    if (value.set_str(std::string(text), 10) != 0)
        return std::nullopt;
    return BigUInt(std::move(value));
}

std::string BigUInt::toString() const {
    return m_value.get_str(10);
}
