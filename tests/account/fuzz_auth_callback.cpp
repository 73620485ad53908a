// Fuzzes what arrives from outside the program on the sign-in path: callback
// links (from any web page or local process) and account records (from the
// server or a settings file someone edited).
#include "account/AuthManager.h"
#include "account/LogRedaction.h"
#include "account/User.h"

#include <QByteArray>
#include <QUrl>

#include <cstdint>
#include <cstdlib>

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

void checkCallback(const QUrl &url)
{
    const AuthManager::CallbackRequest request = AuthManager::parseCallback(url);
    if (request.token) {
        const QString &token = *request.token;
        check(AuthManager::isAcceptableToken(token));
        check(token.size() <= AuthManager::maximumTokenLength);
        check(!token.contains(QLatin1Char('\r')) && !token.contains(QLatin1Char('\n')));
        // A token that stands out from the rest of the link never shows in a log line.
        if (token.size() >= 12 && url.toString().count(token) == 1)
            check(!redactedUrlText(url).contains(token));
    } else {
        check(!request.errorMessage.isEmpty());
    }
}

void checkUser(const QByteArray &bytes)
{
    const auto user = User::decode(bytes);
    if (user) {
        // What we store must read back as the same record.
        const auto again = User::decode(user->encode());
        check(again.has_value());
        check(*again == *user);
    }
    AuthResponse::decode(bytes);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    checkCallback(QUrl::fromEncoded(bytes));
    checkCallback(QUrl(QString::fromUtf8(bytes)));
    checkUser(bytes);
    redactSecrets(QString::fromUtf8(bytes));
    return 0;
}
