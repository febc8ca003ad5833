#pragma once

#include "api/ApiFailure.h"
#include "api/EthereumOracleGasPrice.h"
#include "api/TokenPriceResponse.h"
#include "api/ZelkApiError.h"
#include "api/ZelkResult.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QPair>
#include <QString>

#include <functional>
#include <variant>

using HTTPHeaders = QList<QPair<QByteArray, QByteArray>>;

// The API as the rest of the program sees it: the base URL, the two requests and their reply types.
struct ZelkApiService {
    using EthereumOracleGasPrice = ::EthereumOracleGasPrice;
    using TokenPriceResponse = ::TokenPriceResponse;
    template <class T> using ZelkResult = ::ZelkResult<T>;
    using ZelkApiError = ::ZelkApiError;

    QString api; // base URL, no trailing "/"

    // The five signed headers, made afresh for every request.
    static HTTPHeaders requestHeaders();

    // Completion runs on the main thread exactly once.
    void postRequest(const QString &path, const QJsonObject &parameters,
                     std::function<void(ApiOutcome<TokenPriceResponse>)> completion) const;
    // Completion runs on the main thread at most once: a transport failure only prints a debug line.
    void getRequest(const QString &path,
                    std::function<void(ApiOutcome<EthereumOracleGasPrice>)> completion) const;

    // What the HTTP client hands a reply handler: the whole body, or why there is none.
    using DataResponse = std::variant<QByteArray, TransportError>;
    using TokenPriceCompletion = std::function<void(ApiOutcome<TokenPriceResponse>)>;
    using GasPriceCompletion = std::function<void(ApiOutcome<EthereumOracleGasPrice>)>;

    static void handleTokenPriceResponse(const DataResponse &reply, const TokenPriceCompletion &completion);
    // A transport failure only prints its description to standard output.
    static void handleGasPriceResponse(const DataResponse &reply, const GasPriceCompletion &completion);
};

// The one service value the program uses, made on first use.
const ZelkApiService &apiBaseURL();
