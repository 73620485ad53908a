#pragma once

#include <QString>
#include <QUrl>

// Sign-in links carry the session token (and sometimes an error text with
// personal details) in their query. Log lines show such a link with those
// values replaced by "<redacted>", so a pasted log never hands out a session.
QString redactSecrets(const QString &text);
QString redactedUrlText(const QUrl &url);
