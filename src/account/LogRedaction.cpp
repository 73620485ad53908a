#include "account/LogRedaction.h"

#include <QRegularExpression>

QString redactSecrets(const QString &text)
{
    // A value runs to the next item separator as the query parser sees it
    // (';' belongs to the value there). Keys are matched in any case and in
    // percent-encoded spelling ("%74oken").
    static const QRegularExpression secret(
        QStringLiteral("((?:^|[?&#/])(?:t|%74)(?:o|%6f)(?:k|%6b)(?:e|%65)(?:n|%6e)"
                       "|(?:^|[?&#/])(?:e|%65)(?:r|%72)(?:r|%72)(?:o|%6f)(?:r|%72)"
                       "|(?:^|[?&#/])(?:s|%73)(?:t|%74)(?:a|%61)(?:t|%74)(?:e|%65))(=|%3d)[^&#]*"),
        QRegularExpression::CaseInsensitiveOption);
    QString redacted = text;
    redacted.replace(secret, QStringLiteral("\\1\\2<redacted>"));
    return redacted;
}

QString redactedUrlText(const QUrl &url)
{
    return redactSecrets(url.toString());
}
