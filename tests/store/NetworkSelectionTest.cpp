#include "store/GasStoreService.h"

#include "support/MemoryUserDefaults.h"

#include <gtest/gtest.h>

namespace {
const char *none = nullptr;
} // namespace

TEST(NetworkSelection, SelectedIdFallsBackOnlyWhenNotText) {
    struct Case {
        const char *name;
        QVariant stored;
        const char *selected;
        const char *chainName; // none: no table row
    };
    const Case cases[] = {
        {"missing", QVariant(), "1", "Ethereum"},
        {"number 56", QVariant(56), "1", "Ethereum"},
        {"text 137", QVariant(QStringLiteral("137")), "137", "Polygon"},
        {"unknown id kept", QVariant(QStringLiteral("999")), "999", none},
        {"empty text kept", QVariant(QStringLiteral("")), "", none},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        MemoryUserDefaults defaults;
        if (c.stored.isValid())
            defaults.values.insert("selectedKey", c.stored);
        EXPECT_EQ(GasStoreService::selectedChainId(), c.selected);
        const auto row = GasStoreService::chain(GasStoreService::selectedChainId());
        EXPECT_EQ(row ? row->chainName.toStdString() : "none", c.chainName ? c.chainName : "none");
        EXPECT_EQ(defaults.values.value("selectedKey"), c.stored) << "a read writes nothing back";
    }
}

TEST(NetworkSelection, LookupNeedsTheExactId) {
    struct Case {
        const char *id;
        const char *chainName; // none: no row
        const char *tokenName;
    };
    const Case cases[] = {
        {"66", "OKExChain", "OKT"}, {"128", "Heco", "HT"}, {"1", "Ethereum", "ETH"}, {"01", none, none},
        {" 1", none, none},         {"1 ", none, none},    {"", none, none},         {"999", none, none},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.id);
        const auto row = GasStoreService::chain(c.id);
        ASSERT_EQ(row.has_value(), c.chainName != none);
        if (row) {
            EXPECT_EQ(row->chainId, c.id);
            EXPECT_EQ(row->chainName, c.chainName);
            EXPECT_EQ(row->tokenName, c.tokenName);
        }
    }
}
