// A wei price text as the gas-price reply carries it: any JSON string, so any UTF-16, lone surrogates
// included. The result is checked against a digit-string reference.
#include "FuzzCheck.h"

#include "store/WeiConversion.h"

#include <QString>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

// "--" unless the text is ASCII digits only; else the value / 10^9 with at most four fraction digits,
// cut, trailing zeros dropped.
QString referenceGwei(const QString &wei) {
    if (wei.isEmpty() || !std::all_of(wei.begin(), wei.end(), [](QChar c) { return c >= u'0' && c <= u'9'; }))
        return QStringLiteral("--");
    QString digits = wei;
    while (digits.size() > 1 && digits.front() == u'0')
        digits.remove(0, 1);
    if (digits.size() < 10)
        digits.prepend(QString(10 - digits.size(), u'0'));
    const QString integer = digits.left(digits.size() - 9);
    QString fraction = digits.right(9).left(4);
    while (fraction.endsWith(u'0'))
        fraction.chop(1);
    return fraction.isEmpty() ? integer : integer + u'.' + fraction;
}

void checkOne(const QString &wei) {
    const QString got = weiToGwei(wei);
    const QString expected = referenceGwei(wei);
    check(got == expected, "weiToGwei gives the gwei text or \"--\"",
          "input " + wei.toUtf8() + "\ngot      " + got.toUtf8() + "\nexpected " + expected.toUtf8());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const auto *text = reinterpret_cast<const char *>(data);
    checkOne(QString::fromUtf8(text, static_cast<qsizetype>(size)));
    // The same bytes as UTF-16 reach texts that UTF-8 cannot hold, such as lone surrogates.
    QString utf16(static_cast<qsizetype>(size / 2), Qt::Uninitialized);
    std::memcpy(utf16.data(), data, static_cast<std::size_t>(utf16.size()) * sizeof(QChar));
    checkOne(utf16);
    return 0;
}
