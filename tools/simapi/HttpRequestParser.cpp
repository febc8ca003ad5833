#include "HttpRequestParser.h"

namespace {

HttpRequestParser::Result invalid(int status) {
    return {HttpRequestParser::Status::Invalid, status};
}

bool isToken(QByteArrayView text) {
    if (text.isEmpty())
        return false;
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u <= 0x20 || u >= 0x7f || c == ':' || c == '"' || c == '(' || c == ')' || c == ',' || c == '/' ||
            c == ';' || c == '<' || c == '=' || c == '>' || c == '?' || c == '@' || c == '[' || c == '\\' ||
            c == ']' || c == '{' || c == '}')
            return false;
    }
    return true;
}

} // namespace

HttpRequestParser::Result HttpRequestParser::parse(QByteArray &buffer, HttpRequest &request) {
    const qsizetype headerEnd = buffer.indexOf("\r\n\r\n");
    if (headerEnd < 0)
        return buffer.size() > maxHeaderBytes ? invalid(431) : Result{};
    if (headerEnd > maxHeaderBytes)
        return invalid(431);

    const QList<QByteArray> lines = buffer.left(headerEnd).split('\n');
    HttpRequest parsed;
    qint64 contentLength = 0;
    bool haveLength = false;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QByteArray line = lines.at(i);
        if (!line.endsWith('\r') && i + 1 < lines.size())
            return invalid(400);
        if (line.endsWith('\r'))
            line.chop(1);
        if (i == 0) {
            const QList<QByteArray> parts = line.split(' ');
            if (parts.size() != 3 || !isToken(parts.at(0)) || parts.at(1).isEmpty() ||
                !parts.at(2).startsWith("HTTP/1."))
                return invalid(400);
            parsed.method = parts.at(0);
            parsed.target = parts.at(1);
            parsed.version = parts.at(2);
            const qsizetype query = parsed.target.indexOf('?');
            parsed.path = query < 0 ? parsed.target : parsed.target.left(query);
            continue;
        }
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0 || !isToken(QByteArrayView(line).first(colon)))
            return invalid(400);
        const QByteArray name = line.left(colon);
        const QByteArray value = line.mid(colon + 1).trimmed();
        parsed.headers.emplace_back(name, value);
        if (name.compare("Transfer-Encoding", Qt::CaseInsensitive) == 0)
            return invalid(501);
        if (name.compare("Content-Length", Qt::CaseInsensitive) == 0) {
            bool ok = !value.isEmpty() && value.size() <= 18;
            for (const char c : value)
                ok = ok && c >= '0' && c <= '9';
            const qint64 length = ok ? value.toLongLong(&ok) : -1;
            if (!ok || (haveLength && length != contentLength))
                return invalid(400);
            contentLength = length;
            haveLength = true;
        }
    }
    if (contentLength > maxBodyBytes)
        return invalid(413);

    const qsizetype bodyStart = headerEnd + 4;
    if (buffer.size() - bodyStart < contentLength)
        return {};
    parsed.body = buffer.mid(bodyStart, contentLength);
    buffer.remove(0, bodyStart + contentLength);
    request = std::move(parsed);
    return {Status::Complete, 0};
}
