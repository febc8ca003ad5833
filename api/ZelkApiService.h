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

using HTTPHeaders = QList<QPair<QByteArray, QByteArray>>;

// The API as the rest of the program sees it: the base URL, the two requests and their reply types.
struct ZelkApiService {
    using EthereumOracleGasPrice = ::EthereumOracleGasPrice;
    using TokenPriceResponse = ::TokenPriceResponse;
    template <class T>
    using ZelkResult = ::ZelkResult<T>;
    using ZelkApiError = ::ZelkApiError;

    QString api; // base URL, no trailing "/"

    // The five signed headers, made afresh for every request.
    static HTTPHeaders requestHeaders();

    // Completion runs on the main thread exactly once.
    void postRequest(const QString &path, const QJsonObject &parameters,
                     std::function<void(ApiOutcome<TokenPriceResponse>)> completion) const;
    // Completion runs on the main thread at most once: a transport failure only prints a debug line.
    void getRequest(const QString &path, std::function<void(ApiOutcome<EthereumOracleGasPrice>)> completion) const;
};

// The one service value the program uses, made on first use.
const ZelkApiService &apiBaseURL();
