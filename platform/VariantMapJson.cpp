#include "platform/VariantMapJson.h"

#include <QJsonObject>

namespace {

// Text that QJsonDocument writes between its quotes unchanged, one byte per character: printable ASCII
// other than '"' and '\'.
bool isPlain(QStringView text) {
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() >= 0x7f || c == u'"' || c == u'\\')
            return false;
    }
    return true;
}

void appendQuoted(QByteArray &json, QStringView plain) {
    const qsizetype at = json.size();
    json.resize(at + plain.size() + 2);
    char *out = json.data() + at;
    *out++ = '"';
    for (const QChar c : plain)
        *out++ = static_cast<char>(c.unicode());
    *out = '"';
}

bool appendObject(QByteArray &json, const QVariantMap &map, int indent, bool compact);

// The layout follows QJsonDocument's writer: members indented by four spaces per level, ": " between key
// and value, and a nested object's closing brace at its member's indentation.
bool appendValue(QByteArray &json, const QVariant &value, int indent, bool compact) {
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
        json.append(4 * indent, ' ');
        json += '}';
        return true;
    default:
        return false;
    }
}

bool appendObject(QByteArray &json, const QVariantMap &map, int indent, bool compact) {
    if (map.isEmpty())
        return true;
    for (auto it = map.begin(); it != map.end(); ++it) {
        if (it != map.begin())
            json += compact ? "," : ",\n";
        // QVariantMap orders keys by UTF-16 code units, a JSON object by code points: the same order for
        // the ASCII keys taken here.
        if (!isPlain(it.key()))
            return false;
        json.append(4 * indent, ' ');
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
    QByteArray json;
    json.reserve(2048); // the whole defaults file of six records fits
    json += compact ? "{" : "{\n";
    if (appendObject(json, map, compact ? 0 : 1, compact)) {
        json += compact ? "}" : "}\n";
        return json;
    }
    return QJsonDocument(QJsonObject::fromVariantMap(map)).toJson(format);
}
