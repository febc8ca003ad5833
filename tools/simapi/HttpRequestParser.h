#pragma once

#include "HttpRequest.h"

// Reads one HTTP/1.1 request (request line, headers, Content-Length body) from the front of a buffer.
class HttpRequestParser {
public:
    enum class Status { NeedMore, Complete, Invalid };

    struct Result {
        Status status = Status::NeedMore;
        int errorStatus = 0; // the HTTP status to answer an invalid request with
    };

    static constexpr qsizetype maxHeaderBytes = 64 * 1024;
    static constexpr qsizetype maxBodyBytes = 64 * 1024 * 1024;

    // On Complete the request's bytes are removed from the buffer and stored in request.
    static Result parse(QByteArray &buffer, HttpRequest &request);
};
