#pragma once

#include "HttpRequest.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <optional>

// How the simulated server answers one request.
struct SimulatedBehaviour {
    enum class Kind {
        Api,     // the real API's answer, token checks included
        Fixed,   // status, headers and body as given
        Empty,   // the status alone, with no body
        Garbage, // `size` bytes that are neither text nor JSON
        Huge,    // the API's answer preceded by white space up to `size` bytes, generated while sending
        Hang,    // never answer; keep the connection open
        Drop,    // close the connection without an answer
    };

    Kind kind = Kind::Api;
    int status = 200;
    HttpHeaderList headers;
    QByteArray body;
    qint64 size = 0;
    int delayMs = 0;   // wait this long before answering (or dropping)
    int trickleMs = 0; // when positive, write the head at once, then the body one byte per this many ms

    static SimulatedBehaviour api();
    static SimulatedBehaviour fixed(int status, const QByteArray &body, const HttpHeaderList &headers = {});
    static SimulatedBehaviour empty(int status);
    static SimulatedBehaviour garbage(qint64 size = 256);
    static SimulatedBehaviour huge(qint64 size);
    static SimulatedBehaviour hang();
    static SimulatedBehaviour drop();
    SimulatedBehaviour delayed(int milliseconds) const;
    SimulatedBehaviour trickled(int millisecondsPerByte = 1000) const;

    // The control channel's JSON form (see tools/simapi/README.md).
    static std::optional<SimulatedBehaviour> fromJson(const QJsonObject &object, QString *error);
};
