#pragma once

#include "api/ZelkApiService.h"

#include <QJsonObject>
#include <QString>

#include <array>
#include <functional>
#include <optional>

class UserDefaults;

// The gas price store: network table, selection, per-network records and the two-step fetch.
// Keeps no state of its own; the user defaults hold everything.
class GasStoreService {
public:
    GasStoreService() = delete;

    struct chainMessage {
        QString chainId;
        QString chainName;
        QString tokenName;
    };
    static const std::array<chainMessage, 6> chainList;

    struct GasPrices {
        QString low, standard, fast;
    };
    struct StoredPrices {
        GasPrices gasPrices;
        QString tokenPrice;
    };
    // The fetch result: gwei texts ("--" for a value that did not convert) and the token price text.
    struct FetchResult {
        QString low, standard, fast, tokenPrice;
        QString chainId = {}; // the network the prices were fetched for, which may no longer be selected
    };
    using FetchCompletion = std::function<void(std::optional<FetchResult>)>;

    // Network table and selection.
    static QString selectedChainId();
    static std::optional<chainMessage> chain(const QString &forId);

    // Per-network records. A read yields "--" for an empty text and for an entry that is missing or not
    // a text (only an outside edit of the defaults leaves one so). Saves ignore ids outside the table.
    static UserDefaults &preparedDefaults();
    static GasPrices storedGasPrice(const QString &chainId);
    static QString storedValue(const QString &chainId, const QString &key);
    static QString storedTokenPrice(const QString &chainId);
    // storedGasPrice and storedTokenPrice from one read of the records.
    static StoredPrices storedPrices(const QString &chainId);
    static QString storedSysTime(const QString &chainId);
    static void saveValue(const QString &value, const QString &chainId, const QString &key);
    static void saveSysTime(const QString &value, const QString &chainId);
    static void saveTokenPrice(const QString &value, const QString &chainId);
    static void saveGasPrice(const QString &low, const QString &standard, const QString &fast,
                             const QString &chainId);

    // Price fetch.
    static void fetchGasPrice(const chainMessage &chain, FetchCompletion completion);
    static QJsonObject tokenPriceParameters(const QString &chainId, const QString &tokenName);
    // The fetch's two continuations: after the token-price reply, and after the gas-price reply.
    static void requestGasPrice(const ApiOutcome<TokenPriceResponse> &outcome, const chainMessage &chain,
                                const FetchCompletion &completion);
    static void convertGasPrice(const ApiOutcome<EthereumOracleGasPrice> &outcome, const QString &tokenPrice,
                                const QString &chainId, const FetchCompletion &completion);
    // Service used by the fetch; tests point it at the simulated server. Default: apiBaseURL().
    static void setApiServiceForTesting(const ZelkApiService *service);
};
