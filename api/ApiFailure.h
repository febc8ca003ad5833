#pragma once

#include "api/ZelkApiError.h"

#include <QNetworkReply>
#include <QString>

#include <variant>

// The HTTP client's own failure: no connection, TLS, time-out, an empty or oversized body.
struct TransportError {
    QNetworkReply::NetworkError code = QNetworkReply::UnknownNetworkError;
    QString description; // one line, for the debug output of the gas-price request
};

// The JSON decoder's failure: where in the document and why, e.g. {"data.low.price", "expected a string"}.
struct DecodeError {
    QString path;
    QString reason;
};

using ApiFailure = std::variant<TransportError, DecodeError, ZelkApiError>;

// What a request's completion receives: the document, or why there is none.
template <class T> using ApiOutcome = std::variant<T, ApiFailure>;
