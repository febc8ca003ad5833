#include "api/RequestSigner.h"

#include "api/ApiCredentials.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QUuid>

#include <openssl/err.h>
#include <openssl/evp.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <utility>

namespace {

static_assert(sizeof(ApiCredentials::credential2) - 1 == 32, "credential 2 is the AES-256 key");

// Kept once fetched: an implicit fetch on every call would cost more than the rest of the headers. A failed
// fetch is tried again on the next call, so one failure does not leave every later request unsigned.
template <class Algorithm>
const Algorithm *fetchOnce(std::atomic<Algorithm *> &kept,
                           Algorithm *(*fetch)(OSSL_LIB_CTX *, const char *, const char *),
                           void (*release)(Algorithm *), const char *name) {
    if (Algorithm *algorithm = kept.load(std::memory_order_acquire))
        return algorithm;
    Algorithm *fetched = fetch(nullptr, name, nullptr);
    if (fetched == nullptr) {
        ERR_clear_error(); // not left for the next OpenSSL user on this thread (Qt's TLS) to report
        return nullptr;
    }
    Algorithm *expected = nullptr;
    if (!kept.compare_exchange_strong(expected, fetched, std::memory_order_acq_rel)) {
        release(fetched); // another thread kept its own first
        return expected;
    }
    return fetched;
}

const EVP_MD *sha256() {
    static std::atomic<EVP_MD *> md{nullptr};
    return fetchOnce(md, &EVP_MD_fetch, &EVP_MD_free, "SHA2-256");
}

const EVP_CIPHER *aes256Ecb() {
    static std::atomic<EVP_CIPHER *> cipher{nullptr};
    return fetchOnce(cipher, &EVP_CIPHER_fetch, &EVP_CIPHER_free, "AES-256-ECB");
}

QByteArray wholeSeconds(double seconds) {
    // A clock before 1970 (or not a number) would give a sign or garbage; the server rejects 0 cleanly.
    if (!(seconds >= 0.0) || seconds >= 9.0e18)
        return QByteArrayLiteral("0");
    return QByteArray::number(static_cast<qint64>(seconds)); // the cast cuts toward zero
}

QByteArray sha256Hex(const QByteArray &text) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    const EVP_MD *md = sha256();
    if (md == nullptr ||
        EVP_Digest(text.constData(), static_cast<size_t>(text.size()), digest, &length, md, nullptr) != 1)
        return {};
    return QByteArray(reinterpret_cast<const char *>(digest), static_cast<qsizetype>(length)).toHex();
}

} // namespace

RequestSigner::RequestSigner(QString appVersion, Clock clock, UuidSource uuids)
    : appVersion_(appVersion.toUtf8())
    , clock_(std::move(clock))
    , uuids_(std::move(uuids)) {}

HTTPHeaders RequestSigner::requestHeaders() const {
    const QByteArray nonce = uuids_().toUtf8();
    const QByteArray time = wholeSeconds(clock_());
    const QByteArray udid = uuids_().toUtf8();

    const QByteArray sign = sha256Hex(time + udid + ApiCredentials::credential1 + nonce);
    QByteArray token;
    if (!sign.isEmpty()) {
        const QJsonObject payload{{QStringLiteral("time"), QString::fromUtf8(time)},
                                  {QStringLiteral("nonce"), QString::fromUtf8(nonce)},
                                  {QStringLiteral("sign"), QString::fromLatin1(sign)}};
        token = encryptPayload(QJsonDocument(payload).toJson(QJsonDocument::Compact));
    }

    return {{QByteArrayLiteral("x-app-type"), QByteArrayLiteral("iOS-5")},
            {QByteArrayLiteral("x-app-ver"), appVersion_},
            {QByteArrayLiteral("x-app-locale"), QByteArrayLiteral("en")},
            {QByteArrayLiteral("x-app-udid"), udid},
            {QByteArrayLiteral("x-req-token"), token}};
}

QByteArray RequestSigner::encryptPayload(const QByteArray &payload) {
    const std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> context(EVP_CIPHER_CTX_new(),
                                                                                  &EVP_CIPHER_CTX_free);
    const EVP_CIPHER *cipher = aes256Ecb();
    if (!context || cipher == nullptr)
        return {};
    const auto *key = reinterpret_cast<const unsigned char *>(ApiCredentials::credential2);
    if (EVP_EncryptInit_ex2(context.get(), cipher, key, nullptr, nullptr) != 1)
        return {};

    // PKCS#7 always adds 1 to 16 bytes.
    QByteArray cipherText(payload.size() + 16, Qt::Uninitialized);
    auto *out = reinterpret_cast<unsigned char *>(cipherText.data());
    int written = 0;
    int last = 0;
    if (EVP_EncryptUpdate(context.get(), out, &written,
                          reinterpret_cast<const unsigned char *>(payload.constData()),
                          static_cast<int>(payload.size())) != 1 ||
        EVP_EncryptFinal_ex(context.get(), out + written, &last) != 1)
        return {};
    cipherText.truncate(written + last);
    return cipherText.toBase64();
}

double RequestSigner::systemClock() {
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

QString RequestSigner::randomUuid() {
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}
