// Fuzzes what arrives from outside on the sign-in path: callback links (from any
// page or process) and account records (from the server or an edited settings file).
#include "account/AuthManager.h"
#include "account/LogRedaction.h"
#include "account/User.h"

#include <cstdint>
#include <cstdlib>

static void check(bool condition)
{
    if (!condition)
        std::abort();
}

static void checkCallback(const QUrl &url)
{
    const AuthManager::CallbackRequest request = AuthManager::parseCallback(url);
    check(request.token.has_value() != !request.errorMessage.isEmpty());
    if (request.token) {
        const QString &token = *request.token;
        check(AuthManager::isAcceptableToken(token) && token.size() <= AuthManager::maximumTokenLength);
        check(!token.contains(QLatin1Char('\r')) && !token.contains(QLatin1Char('\n')));
        // A token that stands out from the link never shows in a log line (a path may spell it too).
        const QString outsideQuery = url.adjusted(QUrl::RemoveQuery).toString();
        if (token.size() >= 12 && url.toString().count(token) == 1 && !outsideQuery.contains(token))
            check(!redactedUrlText(url).contains(token));
    }
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    checkCallback(QUrl::fromEncoded(bytes));
    checkCallback(QUrl(QString::fromUtf8(bytes)));
    // What we store must read back as the same record.
    if (const auto user = User::decode(bytes))
        check(User::decode(user->encode()) == user);
    AuthResponse::decode(bytes);
    redactSecrets(QString::fromUtf8(bytes));
    return 0;
}
