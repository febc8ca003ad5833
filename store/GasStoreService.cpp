#include "store/GasStoreService.h"

#include "platform/UserDefaults.h"
#include "platform/VariantMapJson.h"
#include "store/WeiConversion.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QVariantMap>

#include <cstdio>
#include <utility>
#include <variant>

const std::array<GasStoreService::chainMessage, 6> GasStoreService::chainList = {{
    {QStringLiteral("1"), QStringLiteral("Ethereum"), QStringLiteral("ETH")},
    {QStringLiteral("56"), QStringLiteral("BNBChain"), QStringLiteral("BNB")},
    {QStringLiteral("137"), QStringLiteral("Polygon"), QStringLiteral("MATIC")},
    {QStringLiteral("250"), QStringLiteral("Fantom"), QStringLiteral("FTM")},
    {QStringLiteral("66"), QStringLiteral("OKExChain"), QStringLiteral("OKT")},
    {QStringLiteral("128"), QStringLiteral("Heco"), QStringLiteral("HT")},
}};

namespace {
const QString selectedKey = QStringLiteral("selectedKey");
const QString gasPriceKey = QStringLiteral("gasPriceKey");
const QString tokenPriceKey = QStringLiteral("tokenPriceKey");
const QString sysTimeKey = QStringLiteral("sysTime");
const QString lowKey = QStringLiteral("low");
const QString standardKey = QStringLiteral("standard");
const QString fastKey = QStringLiteral("fast");
const QString missing = QStringLiteral("--");

const QString tokenPricePath = QStringLiteral("/api/v1/tokens/prices/conditions");

const ZelkApiService *g_apiService = nullptr;

const ZelkApiService &apiService() {
    return g_apiService ? *g_apiService : apiBaseURL();
}

bool isText(const QVariant &value) {
    return value.typeId() == QMetaType::QString;
}
bool isDictionary(const QVariant &value) {
    return value.typeId() == QMetaType::QVariantMap;
}

QVariantMap dictionary(const QVariant &value) {
    return isDictionary(value) ? value.toMap() : QVariantMap();
}

// The empty text marks a value that has not arrived; an entry an outside edit left missing or of
// another type counts as not arrived too.
QString shown(const QVariantMap &record, const QString &key) {
    const QVariant value = record.value(key);
    if (!isText(value))
        return missing;
    QString text = value.toString();
    return text.isEmpty() ? missing : text;
}

QVariantMap emptyRecord() {
    const QString empty = QStringLiteral("");
    return {
        {gasPriceKey, QVariantMap{{lowKey, empty}, {standardKey, empty}, {fastKey, empty}}},
        {tokenPriceKey, empty},
        {sysTimeKey, empty},
    };
}

// Compact JSON keeps each record on one line whatever its texts hold.
QByteArray notation(const QVariant &value) {
    if (!isDictionary(value))
        return QByteArrayLiteral("null");
    return VariantMapJson::toJson(value.toMap(), QJsonDocument::Compact);
}

void printLine(const QByteArray &line) {
    std::fwrite(line.constData(), 1, static_cast<std::size_t>(line.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}
} // namespace

QString GasStoreService::selectedChainId() {
    const QVariant value = UserDefaults::standard().value(selectedKey);
    return isText(value) ? value.toString() : QStringLiteral("1");
}

std::optional<GasStoreService::chainMessage> GasStoreService::chain(const QString &forId) {
    for (const chainMessage &row : chainList)
        if (row.chainId == forId)
            return row;
    return std::nullopt;
}

namespace {
// The creation of missing records, and then what is stored under `chainId`. The loop has just read that
// value; it is read again only when a record was created meanwhile, so the result is always what the
// store holds after the creation, one read cheaper in the common case.
QVariant preparedValue(const QString &chainId) {
    UserDefaults &defaults = UserDefaults::standard();
    bool created = false;
    QVariant found;
    for (const GasStoreService::chainMessage &row : GasStoreService::chainList) {
        QVariant value = defaults.value(row.chainId);
        if (!isDictionary(value)) {
            defaults.setValue(row.chainId, emptyRecord());
            created = true;
        } else if (row.chainId == chainId) {
            found = std::move(value);
        }
    }
    return created || !found.isValid() ? defaults.value(chainId) : found;
}
} // namespace

UserDefaults &GasStoreService::preparedDefaults() {
    UserDefaults &defaults = UserDefaults::standard();
    for (const chainMessage &row : chainList)
        if (!isDictionary(defaults.value(row.chainId)))
            defaults.setValue(row.chainId, emptyRecord());
    return defaults;
}

GasStoreService::GasPrices GasStoreService::storedGasPrice(const QString &chainId) {
    const QVariantMap gas = dictionary(dictionary(preparedValue(chainId)).value(gasPriceKey));
    return {shown(gas, lowKey), shown(gas, standardKey), shown(gas, fastKey)};
}

GasStoreService::StoredPrices GasStoreService::storedPrices(const QString &chainId) {
    const QVariantMap record = dictionary(preparedValue(chainId));
    const QVariantMap gas = dictionary(record.value(gasPriceKey));
    return {{shown(gas, lowKey), shown(gas, standardKey), shown(gas, fastKey)}, shown(record, tokenPriceKey)};
}

QString GasStoreService::storedValue(const QString &chainId, const QString &key) {
    return shown(dictionary(preparedValue(chainId)), key);
}

QString GasStoreService::storedTokenPrice(const QString &chainId) {
    return storedValue(chainId, tokenPriceKey);
}

QString GasStoreService::storedSysTime(const QString &chainId) {
    return storedValue(chainId, sysTimeKey);
}

void GasStoreService::saveValue(const QString &value, const QString &chainId, const QString &key) {
    // Records exist for the table's networks only; any other id would add a stray key, or clobber
    // "selectedKey".
    if (!chain(chainId))
        return;
    QVariantMap record = dictionary(preparedValue(chainId));
    UserDefaults &defaults = UserDefaults::standard();
    // The token price is saved at every refresh, mostly unchanged: the record as read, left unmodified,
    // is recognised by the store without comparing it entry by entry.
    if (const auto stored = record.constFind(key);
        stored == record.cend() || !isText(*stored) || stored->toString() != value)
        record.insert(key, value);
    defaults.setValue(chainId, record);
    defaults.synchronize();
}

void GasStoreService::saveSysTime(const QString &value, const QString &chainId) {
    saveValue(value, chainId, sysTimeKey);
}

void GasStoreService::saveTokenPrice(const QString &value, const QString &chainId) {
    saveValue(value, chainId, tokenPriceKey);
}

void GasStoreService::saveGasPrice(const QString &low, const QString &standard, const QString &fast,
                                   const QString &chainId) {
    if (!chain(chainId))
        return;
    QVariantMap record = dictionary(preparedValue(chainId));
    UserDefaults &defaults = UserDefaults::standard();
    record.insert(gasPriceKey, QVariantMap{{lowKey, low}, {standardKey, standard}, {fastKey, fast}});
    defaults.setValue(chainId, record);
    defaults.synchronize();

    for (const chainMessage &row : chainList)
        printLine((row.chainId + QStringLiteral(": save gasPrice:")).toUtf8() +
                  notation(defaults.value(row.chainId)));
}

void GasStoreService::fetchGasPrice(const chainMessage &chain, FetchCompletion completion) {
    // The body depends on the network alone, which seldom changes: it is built again only when that does.
    static chainMessage lastChain;
    static QJsonObject lastParameters;
    if (lastParameters.isEmpty() || chain.chainId != lastChain.chainId ||
        chain.tokenName != lastChain.tokenName) {
        lastParameters = tokenPriceParameters(chain.chainId, chain.tokenName);
        lastChain = chain;
    }
    apiService().postRequest(
        tokenPricePath, lastParameters,
        [chain, completion = std::move(completion)](ApiOutcome<TokenPriceResponse> outcome) {
            requestGasPrice(outcome, chain, completion);
        });
}

QJsonObject GasStoreService::tokenPriceParameters(const QString &chainId, const QString &tokenName) {
    const QJsonObject token{{QStringLiteral("address"), QStringLiteral("")},
                            {QStringLiteral("symbol"), tokenName}};
    const QJsonObject condition{
        {QStringLiteral("tokens"), QJsonArray{token}},
        {QStringLiteral("chain_id"), chainId},
        {QStringLiteral("chain_type"), QStringLiteral("EVM")},
    };
    return {
        {QStringLiteral("conditions"), QJsonArray{condition}},
        {QStringLiteral("base_coin_alias"), QStringLiteral("USD")},
    };
}

void GasStoreService::requestGasPrice(const ApiOutcome<TokenPriceResponse> &outcome,
                                      const chainMessage &chain, const FetchCompletion &completion) {
    const auto *response = std::get_if<TokenPriceResponse>(&outcome);
    if (!response)
        return;

    QString tokenPrice = QStringLiteral("0");
    if (!response->prices.isEmpty() && !response->prices.first().tokens.isEmpty()) {
        if (const auto &price = response->prices.first().tokens.first().price)
            tokenPrice = *price;
    }

    apiService().getRequest(
        QStringLiteral("/api/v1/chains/EVM/") + chain.chainId + QStringLiteral("/gas_price"),
        [chainId = chain.chainId, tokenPrice, completion](ApiOutcome<EthereumOracleGasPrice> outcome) {
            convertGasPrice(outcome, tokenPrice, chainId, completion);
        });
}

void GasStoreService::convertGasPrice(const ApiOutcome<EthereumOracleGasPrice> &outcome,
                                      const QString &tokenPrice, const QString &chainId,
                                      const FetchCompletion &completion) {
    const auto *prices = std::get_if<EthereumOracleGasPrice>(&outcome);
    if (!prices || !completion)
        return;
    completion(FetchResult{weiToGwei(prices->low.price), weiToGwei(prices->standard.price),
                           weiToGwei(prices->fast.price), tokenPrice, chainId});
}

void GasStoreService::setApiServiceForTesting(const ZelkApiService *service) {
    g_apiService = service;
}
