#pragma once

#include "api/ApiFailure.h"
#include "api/EthereumOracleGasPrice.h"
#include "api/TokenPriceResponse.h"
#include "api/ZelkApiError.h"
#include "api/ZelkResult.h"

#include <QByteArrayView>

#include <utility>
#include <variant>

// A whole reply body to its envelope. Bytes in, no I/O: an empty body, text that is not JSON, a
// top-level value other than an object and every field of the wrong kind give a DecodeError.
std::variant<ZelkResult<TokenPriceResponse>, DecodeError> decodeTokenPriceReply(QByteArrayView body);
std::variant<ZelkResult<EthereumOracleGasPrice>, DecodeError> decodeGasPriceReply(QByteArrayView body);

// What a decoded envelope means to the caller: a nonzero code is the server's failure (an absent
// message gives the empty text), code 0 with data is success, code 0 without data is `unknown`.
template <class T> ApiOutcome<T> outcomeOf(std::variant<ZelkResult<T>, DecodeError> &&decoded) {
    if (auto *error = std::get_if<DecodeError>(&decoded))
        return ApiFailure{std::move(*error)};
    auto &envelope = std::get<ZelkResult<T>>(decoded);
    if (envelope.code != 0)
        return ApiFailure{ZelkApiError::server(envelope.message.value_or(QString()))};
    if (envelope.data)
        return std::move(*envelope.data);
    return ApiFailure{ZelkApiError::unknown()};
}
