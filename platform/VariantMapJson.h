#pragma once

#include <QByteArray>
#include <QJsonDocument>
#include <QVariantMap>

// QJsonDocument(QJsonObject::fromVariantMap(map)).toJson(format), byte for byte. A map of texts and
// nested maps whose keys and texts need no escaping (the user defaults' records) is written directly,
// at a small fraction of the cost of converting it to a JSON object first; any other map goes through
// QJsonDocument.
class VariantMapJson {
public:
    static QByteArray toJson(const QVariantMap &map, QJsonDocument::JsonFormat format);
};
