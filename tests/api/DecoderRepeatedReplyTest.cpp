// The service's reply handlers remember the last body they decoded: whatever the order of repeats and
// changes, each reply gives what decoding it afresh gives.
#include "DecoderFixtures.h"

#include "api/ZelkApiService.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

template <class T> std::string described(const ApiOutcome<T> &outcome) {
    if (const T *document = std::get_if<T>(&outcome))
        return "document " + bytes(document->encode()).toStdString();
    const ApiFailure &failure = std::get<ApiFailure>(outcome);
    if (const auto *decode = std::get_if<DecodeError>(&failure))
        return "decode error at '" + decode->path.toStdString() + "': " + decode->reason.toStdString();
    if (const auto *server = std::get_if<ZelkApiError>(&failure))
        return "server error " + std::to_string(int(server->kind)) + ": " + server->message.toStdString();
    return "transport error";
}

template <class T>
std::string handled(const QByteArray &body, void (*handle)(const ZelkApiService::DataResponse &,
                                                           const std::function<void(ApiOutcome<T>)> &)) {
    std::optional<std::string> result;
    handle(ZelkApiService::DataResponse(body), [&](ApiOutcome<T> outcome) { result = described(outcome); });
    return result.value_or("no completion");
}

// `body` with one character of a price replaced: the same size, another value.
QByteArray withPriceDigit(QByteArray body, const QByteArray &price, char digit) {
    const qsizetype at = body.indexOf(price);
    body[at + price.size() - 1] = digit;
    return body;
}

TEST(RepeatedReply, DecodesAsAFreshReplyWhateverCameBefore) {
    const QByteArray gasOther = withPriceDigit(gasPriceBody, "1500000000", '1');
    const QByteArray gasServerError = R"({"code":7,"message":"busy"})";
    const QByteArray notJson = "<html>502</html>";
    const QByteArray gasPadded = gasPriceBody + QByteArray(5000, ' '); // longer than any kept body
    const QByteArray gasPaddedOther = gasOther + QByteArray(5000, ' ');
    const std::vector<QByteArray> gasBodies = {gasPriceBody, gasPriceBody, gasOther,       gasPriceBody,
                                               notJson,      notJson,      gasServerError, gasServerError,
                                               gasPriceBody, gasPadded,    gasPadded,      gasPaddedOther,
                                               gasPriceBody, QByteArray(), QByteArray(),   gasOther};
    for (std::size_t i = 0; i < gasBodies.size(); ++i) {
        SCOPED_TRACE("gas-price reply " + std::to_string(i));
        // Each reply in a buffer of its own, as the network hands them over.
        const QByteArray body(gasBodies[i].constData(), gasBodies[i].size());
        EXPECT_EQ(handled(body, &ZelkApiService::handleGasPriceResponse),
                  described(outcomeOf(decodeGasPriceReply(body))));
    }

    const QByteArray tokenOther = withPriceDigit(tokenPriceBody, "2245.31", '2');
    const std::vector<QByteArray> tokenBodies = {tokenPriceBody, tokenPriceBody, tokenOther,    notJson,
                                                 tokenOther,     gasPriceBody,   tokenPriceBody};
    for (std::size_t i = 0; i < tokenBodies.size(); ++i) {
        SCOPED_TRACE("token-price reply " + std::to_string(i));
        const QByteArray body(tokenBodies[i].constData(), tokenBodies[i].size());
        EXPECT_EQ(handled(body, &ZelkApiService::handleTokenPriceResponse),
                  described(outcomeOf(decodeTokenPriceReply(body))));
    }
}

} // namespace
