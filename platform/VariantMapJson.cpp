#include "platform/VariantMapJson.h"

#include <QJsonObject>

#include <string>

namespace {

// Text that QJsonDocument writes between its quotes unchanged, one byte per character: printable ASCII
// other than '"' and '\\'.
bool isPlain(QStringView text) {
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() >= 0x7f || c == u'"' || c == u'\\')
            return false;
    }
    return true;
}

// Written into a std::string, whose appends are inline; QByteArray's took a call and a length count each.
void appendQuoted(std::string &json, QStringView plain) {
    json += '"';
    for (const QChar c : plain)
        json += static_cast<char>(c.unicode());
    json += '"';
}

bool appendObject(std::string &json, const QVariantMap &map, int indent, bool compact);

// The layout follows QJsonDocument's writer: members indented by four spaces per level, ": " between key
// and value, and a nested object's closing brace at its member's indentation.
bool appendValue(std::string &json, const QVariant &value, int indent, bool compact) {
    switch (value.typeId()) {
    case QMetaType::QString: {
        const QString text = value.toString();
        if (!isPlain(text))
            return false;
        appendQuoted(json, text);
        return true;
    }
    case QMetaType::QVariantMap:
        json += compact ? "{" : "{\n";
        if (!appendObject(json, value.toMap(), indent + (compact ? 0 : 1), compact))
            return false;
        json.append(static_cast<std::size_t>(4 * indent), ' ');
        json += '}';
        return true;
    default:
        return false;
    }
}

bool appendObject(std::string &json, const QVariantMap &map, int indent, bool compact) {
    if (map.isEmpty())
        return true;
    for (auto it = map.begin(); it != map.end(); ++it) {
        if (it != map.begin())
            json += compact ? "," : ",\n";
        // QVariantMap orders keys by UTF-16 code units, a JSON object by code points: the same order for
        // the ASCII keys taken here.
        if (!isPlain(it.key()))
            return false;
        json.append(static_cast<std::size_t>(4 * indent), ' ');
        appendQuoted(json, it.key());
        json += compact ? ":" : ": ";
        if (!appendValue(json, it.value(), indent, compact))
            return false;
    }
    if (!compact)
        json += '\n';
    return true;
}

} // namespace

QByteArray VariantMapJson::toJson(const QVariantMap &map, QJsonDocument::JsonFormat format) {
    const bool compact = format == QJsonDocument::Compact;
    std::string json;
    json.reserve(2048); // the whole defaults file of six records fits
    json += compact ? "{" : "{\n";
    if (appendObject(json, map, compact ? 0 : 1, compact)) {
        json += compact ? "}" : "}\n";
        return QByteArray(json.data(), static_cast<qsizetype>(json.size()));
    }
    return QJsonDocument(QJsonObject::fromVariantMap(map)).toJson(format);
}
