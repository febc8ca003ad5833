#pragma once

#include <gmpxx.h>

#include <optional>
#include <string>
#include <string_view>

// An unsigned integer of any size, read from and written back as decimal text. No arithmetic.
class BigUInt {
public:
    // ASCII decimal digits only, at least one: no sign, no blanks, no prefix. Leading zeros are fine.
    static std::optional<BigUInt> parse(std::string_view text);

    std::string toString() const;
    const mpz_class &value() const { return m_value; }

private:
    explicit BigUInt(mpz_class value);

    mpz_class m_value;
};
