#include "RequestTokenVerifier.h"

#include "api/ApiCredentials.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <openssl/evp.h>

#include <memory>
#include <optional>

namespace {

struct CipherContextFree {
    void operator()(EVP_CIPHER_CTX *context) const { EVP_CIPHER_CTX_free(context); }
};

std::optional<QByteArray> decrypt(const QByteArray &cipherText) {
    if (cipherText.isEmpty() || cipherText.size() % 16 != 0)
        return std::nullopt;
    const std::unique_ptr<EVP_CIPHER_CTX, CipherContextFree> context(EVP_CIPHER_CTX_new());
    if (!context)
        return std::nullopt;
    const auto *key = reinterpret_cast<const unsigned char *>(ApiCredentials::credential2);
    static_assert(sizeof(ApiCredentials::credential2) == 33, "AES-256 needs a 32-byte key");
    if (EVP_DecryptInit_ex(context.get(), EVP_aes_256_ecb(), nullptr, key, nullptr) != 1)
        return std::nullopt;
    QByteArray plain(cipherText.size() + 16, Qt::Uninitialized);
    auto *out = reinterpret_cast<unsigned char *>(plain.data());
    int written = 0;
    int last = 0;
    if (EVP_DecryptUpdate(context.get(), out, &written,
                          reinterpret_cast<const unsigned char *>(cipherText.constData()),
                          static_cast<int>(cipherText.size())) != 1 ||
        EVP_DecryptFinal_ex(context.get(), out + written, &last) != 1)
        return std::nullopt;
    plain.truncate(written + last);
    return plain;
}

QByteArray sha256Hex(const QByteArray &data) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(data.constData(), static_cast<size_t>(data.size()), digest, &length, EVP_sha256(),
                   nullptr) != 1)
        return {};
    return QByteArray(reinterpret_cast<const char *>(digest), length).toHex();
}

bool isDecimalTime(QByteArrayView text) {
    if (text.isEmpty() || text.size() > 18 || (text.size() > 1 && text.front() == '0'))
        return false;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
    }
    return true;
}

bool isLowerHex(QByteArrayView text, qsizetype length) {
    if (text.size() != length)
        return false;
    for (const char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    }
    return true;
}

RequestTokenVerifier::Verdict refuse(const QString &why) {
    return {false, why};
}

} // namespace

bool RequestTokenVerifier::isUpperCaseUuid(QByteArrayView text) {
    if (text.size() != 36)
        return false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (c != '-')
                return false;
        } else if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) {
            return false;
        }
    }
    return true;
}

RequestTokenVerifier::Verdict RequestTokenVerifier::verify(const HttpRequest &request,
                                                           qint64 nowSecondsSinceEpoch) {
    for (const char *name : {"x-app-type", "x-app-ver", "x-app-locale", "x-app-udid", "x-req-token"}) {
        if (!request.hasHeader(name))
            return refuse(QStringLiteral("missing header %1").arg(QLatin1String(name)));
    }
    if (request.header("x-app-type") != "iOS-5")
        return refuse(QStringLiteral("unknown x-app-type"));
    if (request.header("x-app-ver").isEmpty())
        return refuse(QStringLiteral("empty x-app-ver"));
    if (request.header("x-app-locale") != "en")
        return refuse(QStringLiteral("unsupported x-app-locale"));
    const QByteArray udid = request.header("x-app-udid");
    if (!isUpperCaseUuid(udid))
        return refuse(QStringLiteral("malformed x-app-udid"));

    if (request.header("x-req-token").isEmpty())
        return refuse(QStringLiteral("empty x-req-token"));
    const auto decoded = QByteArray::fromBase64Encoding(request.header("x-req-token"),
                                                        QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return refuse(QStringLiteral("token is not Base64"));
    const std::optional<QByteArray> payload = decrypt(*decoded);
    if (!payload)
        return refuse(QStringLiteral("token does not decrypt"));

    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(*payload, &parseError);
    const QJsonObject object = document.object();
    if (parseError.error != QJsonParseError::NoError || !document.isObject() || object.size() != 3 ||
        !object.value(QLatin1String("time")).isString() || !object.value(QLatin1String("nonce")).isString() ||
        !object.value(QLatin1String("sign")).isString())
        return refuse(QStringLiteral("token payload is not {time, nonce, sign}"));

    const QByteArray time = object.value(QLatin1String("time")).toString().toUtf8();
    const QByteArray nonce = object.value(QLatin1String("nonce")).toString().toUtf8();
    const QByteArray sign = object.value(QLatin1String("sign")).toString().toUtf8();
    if (!isDecimalTime(time))
        return refuse(QStringLiteral("token time is not decimal seconds"));
    if (qAbs(time.toLongLong() - nowSecondsSinceEpoch) > maxClockSkewSeconds)
        return refuse(QStringLiteral("token time is stale"));
    if (!isUpperCaseUuid(nonce))
        return refuse(QStringLiteral("malformed token nonce"));
    if (!isLowerHex(sign, 64))
        return refuse(QStringLiteral("malformed token sign"));
    if (sign != sha256Hex(time + udid + QByteArray(ApiCredentials::credential1) + nonce))
        return refuse(QStringLiteral("token sign does not match"));
    return {true, {}};
}
