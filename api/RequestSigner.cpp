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

// Text that compact JSON writes between its quotes unchanged: printable ASCII other than '"' and '\\'.
bool isPlainJsonText(QByteArrayView text) {
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u >= 0x7f || c == '"' || c == '\\')
            return false;
    }
    return true;
}

// {"nonce":…,"sign":…,"time":…} as compact JSON writes it (keys in order). Written directly when no
// member needs escaping, which is every real request: building a JSON object for it cost more than
// signing and encrypting together.
QByteArray payloadJson(const QByteArray &time, const QByteArray &nonce, const QByteArray &sign) {
    // The time is decimal digits and the sign lower-case hex by construction; the nonce comes from the
    // signer's UUID source.
    if (!isPlainJsonText(nonce)) {
        const QJsonObject payload{{QStringLiteral("time"), QString::fromUtf8(time)},
                                  {QStringLiteral("nonce"), QString::fromUtf8(nonce)},
                                  {QStringLiteral("sign"), QString::fromLatin1(sign)}};
        return QJsonDocument(payload).toJson(QJsonDocument::Compact);
    }
    QByteArray json;
    json.reserve(32 + time.size() + nonce.size() + sign.size());
    json.append(R"({"nonce":")").append(nonce);
    json.append(R"(","sign":")").append(sign);
    json.append(R"(","time":")").append(time).append(R"("})");
    return json;
}

QByteArray sha256Hex(const QByteArray &text) {
    // One context per thread, started afresh by every digest, instead of one made and freed per digest.
    thread_local const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                                       &EVP_MD_CTX_free);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    const EVP_MD *md = sha256();
    if (!context || md == nullptr || EVP_DigestInit_ex2(context.get(), md, nullptr) != 1 ||
        EVP_DigestUpdate(context.get(), text.constData(), static_cast<size_t>(text.size())) != 1 ||
        EVP_DigestFinal_ex(context.get(), digest, &length) != 1)
        return {};
    static constexpr char digits[] = "0123456789abcdef";
    QByteArray hex(2 * static_cast<qsizetype>(length), Qt::Uninitialized);
    // Written through one pointer: indexing checks for sharing at every byte.
    char *out = hex.data();
    for (unsigned int i = 0; i < length; ++i) {
        *out++ = digits[digest[i] >> 4];
        *out++ = digits[digest[i] & 0xf];
    }
    return hex;
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

    QByteArray signedText;
    signedText.reserve(time.size() + udid.size() + qsizetype(sizeof ApiCredentials::credential1) +
                       nonce.size());
    signedText.append(time).append(udid).append(ApiCredentials::credential1).append(nonce);
    const QByteArray sign = sha256Hex(signedText);
    QByteArray token;
    if (!sign.isEmpty())
        token = encryptPayload(payloadJson(time, nonce, sign));

    return {{QByteArrayLiteral("x-app-type"), QByteArrayLiteral("iOS-5")},
            {QByteArrayLiteral("x-app-ver"), appVersion_},
            {QByteArrayLiteral("x-app-locale"), QByteArrayLiteral("en")},
            {QByteArrayLiteral("x-app-udid"), udid},
            {QByteArrayLiteral("x-req-token"), token}};
}

QByteArray RequestSigner::encryptPayload(const QByteArray &payload) {
    // One context per thread keeps the expanded key; each payload only restarts it.
    thread_local const std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> context(
        EVP_CIPHER_CTX_new(), &EVP_CIPHER_CTX_free);
    thread_local bool keyed = false;
    const EVP_CIPHER *cipher = aes256Ecb();
    if (!context || cipher == nullptr)
        return {};
    const auto *key = reinterpret_cast<const unsigned char *>(ApiCredentials::credential2);
    keyed = keyed ? EVP_EncryptInit_ex2(context.get(), nullptr, nullptr, nullptr, nullptr) == 1
                  : EVP_EncryptInit_ex2(context.get(), cipher, key, nullptr, nullptr) == 1;
    if (!keyed)
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
    const int length = written + last;
    // Standard Base64 with padding, as QByteArray::toBase64 writes it, in a fraction of its time. The
    // encoder also writes a terminating NUL, which the extra byte takes.
    QByteArray base64(4 * ((length + 2) / 3) + 1, Qt::Uninitialized);
    const int encoded = EVP_EncodeBlock(reinterpret_cast<unsigned char *>(base64.data()), out, length);
    base64.truncate(encoded);
    return base64;
}

double RequestSigner::systemClock() {
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

QString RequestSigner::randomUuid() {
    // The 8-4-4-4-12 text of QUuid, written in upper case straight from its fields: four of these go into
    // every refresh, and the text and QString::toUpper cost more than the rest of a request's signing.
    const QUuid uuid = QUuid::createUuid();
    static constexpr char digits[] = "0123456789ABCDEF";
    QString text(36, Qt::Uninitialized);
    QChar *out = text.data();
    const auto put = [&out](quint64 value, int hexDigits) {
        for (int shift = 4 * (hexDigits - 1); shift >= 0; shift -= 4)
            *out++ = QLatin1Char(digits[(value >> shift) & 0xf]);
    };
    put(uuid.data1, 8);
    *out++ = u'-';
    put(uuid.data2, 4);
    *out++ = u'-';
    put(uuid.data3, 4);
    *out++ = u'-';
    put(quint64(uuid.data4[0]) << 8 | uuid.data4[1], 4);
    *out++ = u'-';
    quint64 node = 0;
    for (int i = 2; i < 8; ++i)
        node = node << 8 | uuid.data4[i];
    put(node, 12);
    return text;
}
