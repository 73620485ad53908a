#include "HttpHead.h"

namespace
{

bool isTokenChar(char c)
{
    const uchar u = uchar(c);
    if ((u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9'))
        return true;
    return QByteArrayView("!#$%&'*+-.^_`|~").contains(c);
}

bool isToken(QByteArrayView text)
{
    return !text.isEmpty() && std::all_of(text.begin(), text.end(), isTokenChar);
}

// Narrower than what some parsers let through (quotes, braces, spaces), so the
// application's URL parser never meets a character it might read otherwise.
bool isTargetChar(char c)
{
    const uchar u = uchar(c);
    if ((u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9'))
        return true;
    return QByteArrayView("-._~%!$&'()*+,;=:@/?").contains(c);
}

bool isFieldValueChar(char c)
{
    const uchar u = uchar(c);
    return u == '\t' || (u >= 0x20 && u != 0x7f);
}

QByteArrayView trimmed(QByteArrayView text)
{
    while (!text.isEmpty() && (text.front() == ' ' || text.front() == '\t'))
        text = text.sliced(1);
    while (!text.isEmpty() && (text.back() == ' ' || text.back() == '\t'))
        text.chop(1);
    return text;
}

std::optional<qint64> parseLength(QByteArrayView text)
{
    // Only plain digits: "+5", "0x5", "5, 5" and "5 5" mean different things to different parsers.
    if (text.isEmpty() || text.size() > 15)
        return std::nullopt;
    qint64 value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

HeadError error(int status, const char *message)
{
    return { status, QString::fromLatin1(message) };
}

// Fields about the client's connection or the body's framing: the guard acts on
// them and the application never sees them.
bool isConnectionField(const QByteArray &lowerName)
{
    static const QByteArrayView names[] = { "connection", "keep-alive", "te", "upgrade", "proxy-connection",
        "transfer-encoding", "expect", "content-length" };
    return std::find(std::begin(names), std::end(names), lowerName) != std::end(names);
}

} // namespace

QByteArray RequestHead::forwarded(const QByteArray &forwardedMethod) const
{
    QByteArray out = forwardedMethod + ' ' + target + " HTTP/1.1\r\n";
    for (const auto &[name, value] : fields)
        out += name + ": " + value + "\r\n";
    out += "Content-Length: " + QByteArray::number(contentLength) + "\r\n\r\n";
    return out;
}

std::variant<RequestHead, HeadError> parseRequestHead(QByteArrayView head)
{
    QList<QByteArrayView> lines;
    for (qsizetype start = 0;;) {
        const qsizetype end = head.indexOf(QByteArrayView("\r\n"), start);
        lines.append(end < 0 ? head.sliced(start) : head.sliced(start, end - start));
        if (end < 0)
            break;
        start = end + 2;
    }
    for (const QByteArrayView line : lines) {
        if (line.contains('\r') || line.contains('\n'))
            return error(400, "Bare CR or LF in the request head");
    }

    RequestHead request;
    const QByteArrayView requestLine = lines.first();
    const qsizetype firstSpace = requestLine.indexOf(' ');
    const qsizetype secondSpace = firstSpace < 0 ? -1 : requestLine.indexOf(' ', firstSpace + 1);
    if (secondSpace < 0 || requestLine.indexOf(' ', secondSpace + 1) >= 0)
        return error(400, "Malformed request line");
    const QByteArrayView method = requestLine.first(firstSpace);
    const QByteArrayView target = requestLine.sliced(firstSpace + 1, secondSpace - firstSpace - 1);
    const QByteArrayView version = requestLine.sliced(secondSpace + 1);
    if (!isToken(method) || !target.startsWith('/')
        || !std::all_of(target.begin(), target.end(), isTargetChar)
        || (version != "HTTP/1.1" && version != "HTTP/1.0"))
        return error(400, "Malformed request line");
    request.method = method.toByteArray();
    request.target = target.toByteArray();
    request.path = request.target.first(
        request.target.contains('?') ? request.target.indexOf('?') : request.target.size());
    // The path is read exactly as sent by every part of the server: no route
    // holds an escape or a dot segment, so one that does is refused rather
    // than decoded in one place and compared raw in another.
    if (request.path.contains('%'))
        return error(400, "Escaped characters are not accepted in the path");
    if (request.path.contains("//") || request.path.contains("/./") || request.path.contains("/../")
        || request.path.endsWith("/.") || request.path.endsWith("/.."))
        return error(400, "Dot segments and empty segments are not accepted in the path");
    request.minorVersion = version.back() - '0';
    request.closeAfterReply = request.minorVersion == 0;

    bool hasLength = false;
    bool hasTransferEncoding = false;
    bool hasHost = false;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArrayView line = lines[i];
        if (line.startsWith(' ') || line.startsWith('\t'))
            return error(400, "Folded header lines are not accepted");
        const qsizetype colon = line.indexOf(':');
        if (colon < 0)
            return error(400, "Malformed header field");
        const QByteArrayView name = line.first(colon);
        if (!name.isEmpty() && (name.back() == ' ' || name.back() == '\t'))
            return error(400, "Whitespace before the colon in a header field");
        if (!isToken(name))
            return error(400, "Malformed header field");
        const QByteArrayView value = trimmed(line.sliced(colon + 1));
        if (!std::all_of(value.begin(), value.end(), isFieldValueChar))
            return error(400, "Invalid character in a header field");

        const QByteArray lowerName = name.toByteArray().toLower();
        if (lowerName == "content-length") {
            const auto length = parseLength(value);
            if (hasLength || !length)
                return error(400, "Invalid Content-Length");
            hasLength = true;
            request.contentLength = *length;
        } else if (lowerName == "transfer-encoding") {
            hasTransferEncoding = true;
        } else if (lowerName == "connection") {
            for (const QByteArray &option : value.toByteArray().split(',')) {
                if (option.trimmed().compare("close", Qt::CaseInsensitive) == 0)
                    request.closeAfterReply = true;
            }
        } else if (lowerName == "expect") {
            if (value.toByteArray().compare("100-continue", Qt::CaseInsensitive) != 0)
                return error(417, "Expectation not supported");
            request.expectContinue = true;
        } else if (lowerName == "host") {
            if (hasHost)
                return error(400, "More than one Host field");
            hasHost = true;
        }
        if (!isConnectionField(lowerName))
            request.fields.append({ name.toByteArray(), value.toByteArray() });
    }
    if (hasTransferEncoding) {
        if (hasLength)
            return error(400, "Transfer-Encoding and Content-Length together");
        return error(411, "Length required: send the body with a Content-Length");
    }
    return request;
}

std::optional<ResponseHead> parseResponseHead(QByteArrayView head)
{
    const QList<QByteArray> lines = head.toByteArray().split('\n');
    const QList<QByteArray> statusLine = lines.first().trimmed().split(' ');
    if (statusLine.size() < 2 || !statusLine[0].startsWith("HTTP/1."))
        return std::nullopt;
    bool ok = false;
    ResponseHead response;
    response.status = statusLine[1].toInt(&ok);
    if (!ok || response.status < 100 || response.status > 999)
        return std::nullopt;
    if (response.status < 200 || response.status == 204 || response.status == 304)
        response.bodyLength = 0;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            continue;
        const QByteArray name = line.left(colon).trimmed().toLower();
        if (name == "content-length" && !response.bodyLength) {
            const auto length = parseLength(trimmed(QByteArrayView(line).sliced(colon + 1)));
            if (!length)
                return std::nullopt;
            response.bodyLength = *length;
        } else if (name == "transfer-encoding") {
            // Only read to the end of the connection, never re-framed.
            response.bodyLength.reset();
            break;
        }
    }
    return response;
}
