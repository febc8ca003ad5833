#include "api/ApiCredentials.h"
#include "api/RequestSigner.h"
#include "api/ZelkApiService.h"
#include "platform/BuildConfig.h"
#include "platform/BundleInfo.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QUuid>

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cmath>
#include <limits>
#include <memory>

namespace {

const QString nonceText = QStringLiteral("6F1A2B3C-4D5E-4F60-8A7B-9C0D1E2F3A4B");
const QString udidText = QStringLiteral("0E9D8C7B-6A59-4483-B2A1-F0E1D2C3B4A5");

// Hands out the nonce first and the udid second, as the signer asks for them.
RequestSigner::UuidSource fixedUuids() {
    auto next = std::make_shared<int>(0);
    return [next] { return (*next)++ % 2 == 0 ? nonceText : udidText; };
}

QByteArray header(const HTTPHeaders &headers, const char *name) {
    for (const auto &[key, value] : headers)
        if (key == name)
            return value;
    ADD_FAILURE() << "no header " << name;
    return {};
}

// Decrypts independently of the signer's code path: the OpenSSL decrypt direction, its own padding check.
QByteArray decrypt(const QByteArray &cipherText) {
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> context(EVP_CIPHER_CTX_new(),
                                                                            &EVP_CIPHER_CTX_free);
    const auto *key = reinterpret_cast<const unsigned char *>(ApiCredentials::credential2);
    if (EVP_DecryptInit_ex2(context.get(), EVP_aes_256_ecb(), key, nullptr, nullptr) != 1)
        return {};
    QByteArray plain(cipherText.size() + 16, '\0');
    auto *out = reinterpret_cast<unsigned char *>(plain.data());
    int written = 0;
    int last = 0;
    if (EVP_DecryptUpdate(context.get(), out, &written,
                          reinterpret_cast<const unsigned char *>(cipherText.data()),
                          int(cipherText.size())) != 1 ||
        EVP_DecryptFinal_ex(context.get(), out + written, &last) != 1)
        return {};
    plain.truncate(written + last);
    return plain;
}

struct Opened {
    QByteArray cipherText;
    QByteArray payload;
    QJsonObject members;
};

Opened open(const QByteArray &token) {
    Opened opened;
    opened.cipherText = QByteArray::fromBase64(token, QByteArray::AbortOnBase64DecodingErrors);
    opened.payload = decrypt(opened.cipherText);
    opened.members = QJsonDocument::fromJson(opened.payload).object();
    return opened;
}

QByteArray expectedSign(const QJsonObject &payload, const QByteArray &udid) {
    const QByteArray signedText = payload["time"].toString().toUtf8() + udid + ApiCredentials::credential1 +
                                  payload["nonce"].toString().toUtf8();
    return QCryptographicHash::hash(signedText, QCryptographicHash::Sha256).toHex();
}

} // namespace

TEST(Signer, KnownAnswer) {
    const RequestSigner signer(
        QStringLiteral("1.0.0"), [] { return 1700000000.9; }, fixedUuids());
    const HTTPHeaders headers = signer.requestHeaders();

    // Checked once by hand with: base64 -d | openssl enc -d -aes-256-ecb -nosalt -K <hex of credential 2>
    const QByteArray token =
        "BI2JOPQ6lEDge0IK+142uB/13XebV+b6LAPGgZTuFD4cHG7gjJSzXGWWOXvXIExOm4FwT86fPVR+WvIyU2bLP9KHHU1x"
        "eW5kbofhTNDYzK6IDi8hOgHAUaXRSuuqZMLNZaCGtYZhrtxlVOXBtrHkDqbOI8br71NPkW/l9A8y5yp1mtjJmyVhw"
        "WXe5iYAoTef";
    const HTTPHeaders expected{{"x-app-type", "iOS-5"},
                               {"x-app-ver", "1.0.0"},
                               {"x-app-locale", "en"},
                               {"x-app-udid", udidText.toUtf8()},
                               {"x-req-token", token}};
    EXPECT_EQ(headers, expected);

    const Opened opened = open(header(headers, "x-req-token"));
    EXPECT_EQ(opened.members["time"], QJsonValue("1700000000"));
    EXPECT_EQ(opened.members["nonce"], QJsonValue(nonceText));
    EXPECT_EQ(opened.members["sign"].toString().toUtf8(), expectedSign(opened.members, udidText.toUtf8()));
    EXPECT_EQ(opened.members["sign"],
              QJsonValue("264db37c77bf6137e775df0669b3e56da03ebdfdd99e5ac7a53879a5a536a37d"));
}

TEST(Signer, HasTheFixedLengthsWithATenDigitTime) {
    for (const double now : {1000000000.0, 1700000000.5, 9999999999.999}) {
        SCOPED_TRACE(now);
        const HTTPHeaders headers =
            RequestSigner(QStringLiteral("1.0.0"), [now] { return now; }).requestHeaders();
        const QByteArray token = header(headers, "x-req-token");
        const Opened opened = open(token);

        const QByteArray signedText = opened.members["time"].toString().toUtf8() +
                                      header(headers, "x-app-udid") + ApiCredentials::credential1 +
                                      opened.members["nonce"].toString().toUtf8();
        EXPECT_EQ(signedText.size(), 114);
        EXPECT_EQ(opened.payload.size(), 142);
        EXPECT_EQ(opened.cipherText.size(), 144);
        EXPECT_EQ(token.size(), 192);
        EXPECT_FALSE(token.contains('='));
        EXPECT_FALSE(opened.payload.contains(' ') || opened.payload.contains('\n'));
        EXPECT_EQ(opened.members.keys(), QStringList({"nonce", "sign", "time"}));
        EXPECT_EQ(opened.members["sign"].toString().toUtf8(),
                  expectedSign(opened.members, header(headers, "x-app-udid")));
    }
}

TEST(Signer, CutsTheClockToTheSecondBelow) {
    struct Case {
        double now;
        const char *time;
    };
    const Case cases[] = {
        {1700000000.9, "1700000000"},
        {1700000000.0, "1700000000"},
        {1699999999.999999, "1699999999"},
        {0.9, "0"},
        // A clock before 1970 must not put a sign into the token.
        {-1.5, "0"},
        {std::numeric_limits<double>::quiet_NaN(), "0"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.now);
        const Opened opened =
            open(header(RequestSigner(QString(), [c] { return c.now; }).requestHeaders(), "x-req-token"));
        EXPECT_EQ(opened.members["time"], QJsonValue(c.time));
    }
}

TEST(Signer, TwoCallsInOneSecondDiffer) {
    const RequestSigner signer(QStringLiteral("1.0.0"), [] { return 1700000000.25; });
    const HTTPHeaders first = signer.requestHeaders();
    const HTTPHeaders second = signer.requestHeaders();
    const Opened a = open(header(first, "x-req-token"));
    const Opened b = open(header(second, "x-req-token"));

    EXPECT_EQ(a.members["time"], b.members["time"]);
    EXPECT_NE(header(first, "x-app-udid"), header(second, "x-app-udid"));
    EXPECT_NE(a.members["nonce"], b.members["nonce"]);
    EXPECT_NE(a.members["sign"], b.members["sign"]);
    EXPECT_NE(header(first, "x-req-token"), header(second, "x-req-token"));
    // The nonce and the udid are independent draws.
    EXPECT_NE(a.members["nonce"].toString().toUtf8(), header(first, "x-app-udid"));
}

TEST(Signer, NeverSendsTheCredentials) {
    const HTTPHeaders headers = ZelkApiService::requestHeaders();
    const Opened opened = open(header(headers, "x-req-token"));
    ASSERT_FALSE(opened.payload.isEmpty());
    for (const char *credential : {ApiCredentials::credential1, ApiCredentials::credential2}) {
        for (const auto &[name, value] : headers) {
            EXPECT_FALSE(name.contains(credential));
            EXPECT_FALSE(value.contains(credential));
        }
        EXPECT_FALSE(opened.payload.contains(credential));
    }
}

TEST(Signer, MakesUpperCaseVersion4Uuids) {
    static const QRegularExpression form(
        QStringLiteral("^[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}$"));
    const HTTPHeaders headers = ZelkApiService::requestHeaders();
    EXPECT_TRUE(form.match(QString::fromUtf8(header(headers, "x-app-udid"))).hasMatch());
    EXPECT_TRUE(form.match(open(header(headers, "x-req-token")).members["nonce"].toString()).hasMatch());
    // Each is QUuid's own text of the same value, in upper case.
    for (int i = 0; i < 200; ++i) {
        const QString uuid = RequestSigner::randomUuid();
        EXPECT_EQ(QUuid(uuid).toString(QUuid::WithoutBraces).toUpper(), uuid);
        EXPECT_TRUE(form.match(uuid).hasMatch()) << uuid.toStdString();
    }
}

TEST(Signer, PadsEveryPayloadToWholeBlocks) {
    struct Case {
        int payloadBytes;
        int cipherBytes;
    };
    const Case cases[] = {{0, 16}, {1, 16}, {15, 16}, {16, 32}, {17, 32}, {142, 144}, {144, 160}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.payloadBytes);
        const QByteArray payload(c.payloadBytes, 'p');
        const QByteArray cipherText = QByteArray::fromBase64(RequestSigner::encryptPayload(payload));
        EXPECT_EQ(cipherText.size(), c.cipherBytes);
        EXPECT_EQ(decrypt(cipherText), payload);
    }
}

TEST(Signer, WritesThePayloadAsCompactJson) {
    QString everyPlainCharacter;
    for (char16_t c = 0x20; c < 0x7f; ++c)
        if (c != u'"' && c != u'\\')
            everyPlainCharacter.append(QChar(c));
    const QString nonces[] = {
        nonceText,
        everyPlainCharacter,
        QStringLiteral("quote\" backslash\\ slash/"),
        QStringLiteral("controls \n\t\r\b\f \x01 \x1f, delete \x7f"),
        QStringLiteral("non-ASCII \u00fc\u20ac \U0001F600"),
        QString(),
    };
    for (const QString &nonce : nonces) {
        SCOPED_TRACE(nonce.toStdString());
        auto next = std::make_shared<int>(0);
        const RequestSigner signer(
            QStringLiteral("1.0.0"), [] { return 1700000000.0; },
            [next, nonce] { return (*next)++ % 2 == 0 ? nonce : udidText; });
        const Opened opened = open(header(signer.requestHeaders(), "x-req-token"));
        const QByteArray sign = QCryptographicHash::hash("1700000000" + udidText.toUtf8() +
                                                             ApiCredentials::credential1 + nonce.toUtf8(),
                                                         QCryptographicHash::Sha256)
                                    .toHex();
        const QJsonObject members{
            {"time", "1700000000"}, {"nonce", nonce}, {"sign", QString::fromLatin1(sign)}};
        EXPECT_EQ(opened.payload, QJsonDocument(members).toJson(QJsonDocument::Compact));
    }
}

TEST(Signer, WritesTheTokenInStandardBase64WithPadding) {
    for (int size = 0; size < 64; ++size) {
        SCOPED_TRACE(size);
        const QByteArray token = RequestSigner::encryptPayload(QByteArray(size, 'p'));
        const auto cipherText =
            QByteArray::fromBase64Encoding(token, QByteArray::AbortOnBase64DecodingErrors);
        ASSERT_TRUE(cipherText);
        EXPECT_EQ(token, cipherText.decoded.toBase64());
    }
}

TEST(Signer, ReadsTheAppVersionOnce) {
    const QByteArray before = header(ZelkApiService::requestHeaders(), "x-app-ver");
    EXPECT_EQ(before, GWEIBAR_VERSION);
    BundleInfo::overrideForTesting({{QStringLiteral("CFBundleShortVersionString"), QStringLiteral("9.9.9")}});
    const QByteArray after = header(ZelkApiService::requestHeaders(), "x-app-ver");
    BundleInfo::overrideForTesting({});
    EXPECT_EQ(after, before);
}
