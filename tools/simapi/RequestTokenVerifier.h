#pragma once

#include "HttpRequest.h"

#include <QString>

// Checks the five client headers and the encrypted, signed token as the real API does.
class RequestTokenVerifier {
public:
    struct Verdict {
        bool ok = false;
        QString failure; // why the request was refused; never holds a credential or the token
    };

    // A token is fresh when its time lies within this many seconds of now, either way.
    static constexpr qint64 maxClockSkewSeconds = 300;

    static Verdict verify(const HttpRequest &request, qint64 nowSecondsSinceEpoch);
    // 36 characters: upper-case hexadecimal digits in groups of 8, 4, 4, 4 and 12 joined by "-".
    static bool isUpperCaseUuid(QByteArrayView text);
};
