#pragma once

#include <QString>

// The API's own failure: a nonzero code (`server`) or code 0 without data (`unknown`).
struct ZelkApiError {
    enum class Kind { server, unknown };
    Kind kind = Kind::unknown;
    QString message; // the envelope's message; empty for `unknown`

    static ZelkApiError server(const QString &message) { return {Kind::server, message}; }
    static ZelkApiError unknown() { return {Kind::unknown, {}}; }
};
