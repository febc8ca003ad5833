#pragma once

#include "platform/Decimal.h"

#include <QString>

// At most `scale` fraction digits, cut and never rounded; trailing zeros dropped when `trimZeros`.
QString formatDecimal(const Decimal &value, int scale, bool trimZeros);

// `length` characters starting `from` characters into `text`; a range outside the text is clamped to it.
QString substring(const QString &text, qsizetype from, qsizetype length);
