#pragma once

#include <QDateTime>
#include <QString>

#include <functional>
#include <optional>
#include <variant>

// The server's accounts and sessions, in an SQLite file under the data
// folder. Passwords are kept only as Argon2id hashes and session tokens only
// as SHA-256 hashes, so a copy of the file signs nobody in.
class AccountStore
{
public:
    struct Account {
        QString id;
        QString email;
        std::optional<QString> name;
        QString provider;
        QDateTime createdAt;
    };

    enum class Failure {
        invalidEmail,
        invalidPassword,
        invalidName,
        emailTaken,
        wrongCredentials,
        storage,
    };

    // App sessions are bearer tokens handed to the program; browser sessions
    // live in a cookie of the sign-in pages. Neither opens the other's door.
    enum class SessionKind { app, browser };

    enum class SessionState { valid, unknown, expired };
    struct SessionLookup {
        SessionState state = SessionState::unknown;
        std::optional<Account> account;
    };

    static constexpr qint64 sessionLifetimeSeconds = 30 * 24 * 60 * 60;
    static constexpr qsizetype minimumPasswordLength = 8;
    static constexpr qsizetype maximumPasswordLength = 1024;
    static constexpr qsizetype maximumNameLength = 100;
    static constexpr qsizetype maximumEmailLength = 254;

    explicit AccountStore(const QString &dataDir);
    ~AccountStore();
    AccountStore(const AccountStore &) = delete;
    AccountStore &operator=(const AccountStore &) = delete;

    // Creates the folder and the database (owner-only) when missing.
    bool open(QString *error = nullptr);
    QString databasePath() const;
    // Cheap enough for every readiness probe: the database answers a query.
    bool isReachable() const;

    // Tests move time forward to see sessions expire.
    void setClock(std::function<QDateTime()> clock) { m_clock = std::move(clock); }

    std::variant<Account, Failure> createAccount(const QString &email, const QString &password,
                                                 const QString &name = QString());
    std::variant<Account, Failure> authenticate(const QString &email, const QString &password);
    std::optional<Account> account(const QString &id);
    int accountCount();

    // A fresh random token; only its hash is stored.
    std::optional<QString> createSession(const QString &accountId, SessionKind kind);
    SessionLookup findSession(const QString &token, SessionKind kind);
    void deleteSession(const QString &token);

    // Lower-cased address when it is one we accept, else nothing. Deliberately
    // narrower than everything mail servers allow: letters, digits and ._%+-
    // before the @, a dotted host name after it.
    static std::optional<QString> normalizedEmail(const QString &email);
    static bool isAcceptablePassword(const QString &password);
    static std::optional<QString> normalizedName(const QString &name, bool *ok);
    static QString describe(Failure failure);

    // `tellwind-server add-user EMAIL`: reads the password from standard
    // input (without echo on a terminal) and creates the account.
    static int runAddUser(const QString &dataDir, const QString &email);

private:
    QDateTime now() const { return m_clock ? m_clock() : QDateTime::currentDateTimeUtc(); }
    static QString hashToken(const QString &token);

    QString m_dataDir;
    QString m_connectionName;
    std::function<QDateTime()> m_clock;
};
