#pragma once

#include <QString>

// Wei text (ASCII decimal digits only) to gwei text with at most four fraction digits, cut; "--" when
// the text is not a decimal integer.
QString weiToGwei(const QString &wei);
