#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVariantList>

#include <chrono>
#include <functional>
#include <optional>
#include <variant>

class QSqlDatabase;
class QSqlQuery;

// The server's accounts, sessions and recent failed sign-ins: an SQLite file
// under the data folder, or a PostgreSQL database that several server
// processes share. Passwords are kept only as Argon2id hashes and session
// tokens only as SHA-256 hashes, so a copy of the database signs nobody in.
// Used from one thread; every write is committed before the call returns.
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

    // `unavailable`: the database did not answer, which says nothing about
    // the session.
    enum class SessionState { valid, unknown, expired, unavailable };
    struct SessionLookup {
        SessionState state = SessionState::unknown;
        std::optional<Account> account;
        // Sessions made by one sign-in share it, so that signing out in the
        // browser also ends the program's session from that sign-in.
        QString signinId;
    };

    // A sign-in's pair of sessions.
    struct SignIn {
        QString appToken;
        QString browserToken;
        QString signinId;
    };

    struct NewAccount {
        QString email;
        std::optional<QString> name;
    };

    struct Credentials {
        Account account;
        QByteArray passwordHash;
    };

    struct SigninLimits {
        int maxFailures = 5;
        std::chrono::milliseconds window { 60'000 };
    };

    static constexpr qint64 sessionLifetimeSeconds = 30 * 24 * 60 * 60;
    static constexpr qsizetype minimumPasswordLength = 8;
    static constexpr qsizetype maximumPasswordLength = 1024;
    static constexpr qsizetype maximumNameLength = 100;
    static constexpr qsizetype maximumEmailLength = 254;
    static constexpr int schemaVersion = 2;

    // An empty `databaseUrl` keeps the accounts in `dataDir`.
    explicit AccountStore(const QString &dataDir, const QString &databaseUrl = QString(),
        const QString &databasePassword = QString());
    ~AccountStore();
    AccountStore(const AccountStore &) = delete;
    AccountStore &operator=(const AccountStore &) = delete;

    // Connects, creates the SQLite file (owner-only) when missing, and brings
    // the schema up to date.
    bool open(QString *error = nullptr);
    QString databasePath() const;
    bool isPostgres() const { return !m_databaseUrl.isEmpty(); }
    // A cheap round trip to the database, reconnecting once when the
    // connection was lost.
    bool isReachable();
    int appliedSchemaVersion();

    // Tests move time forward to see sessions and lock-outs expire.
    void setClock(std::function<QDateTime()> clock) { m_clock = std::move(clock); }
    void setSigninLimits(SigninLimits limits) { m_limits = limits; }
    SigninLimits signinLimits() const { return m_limits; }

    // Synchronous, hashing on the calling thread: for the command line.
    std::variant<Account, Failure> createAccount(
        const QString &email, const QString &password, const QString &name = QString());
    std::variant<Account, Failure> authenticate(const QString &email, const QString &password);

    // The pieces the sign-in pages put together around hashing done elsewhere.
    static std::variant<NewAccount, Failure> checkNewAccount(
        const QString &email, const QString &password, const QString &name);
    std::variant<Account, Failure> insertAccount(const NewAccount &account, const QByteArray &passwordHash);
    bool emailExists(const QString &normalizedAddress, bool *ok);
    // Nothing when there is no such account; `ok` false on a storage failure.
    std::optional<Credentials> credentials(const QString &normalizedAddress, bool *ok);

    std::optional<Account> account(const QString &id);
    int accountCount();

    // Fresh random tokens; only their hashes are stored.
    std::optional<QString> createSession(
        const QString &accountId, SessionKind kind, const QString &signinId = QString());
    std::optional<SignIn> createSignIn(const QString &accountId);
    SessionLookup findSession(const QString &token, SessionKind kind);
    bool deleteSession(const QString &token, SessionKind kind);
    // Ends every session of the sign-in this browser session belongs to.
    void endSignIn(const QString &browserToken);
    void purgeExpired();

    // Sign-in attempts are counted per subject (an address, an account) over
    // the last window; a caller may record an attempt before its password is
    // checked and forget it when it succeeds. Seconds until every subject may
    // try again (0: now); nothing on a storage failure.
    std::optional<qint64> retryAfterSeconds(const QStringList &subjects);
    // The same, each subject with a limit of its own instead of maxFailures.
    std::optional<qint64> retryAfterSeconds(const QList<QPair<QString, int>> &subjectLimits);
    QString recordSigninAttempt(const QStringList &subjects);
    void forgetSigninAttempt(const QString &attemptId);

    // Lower-cased address when it is one we accept, else nothing. Deliberately
    // narrower than everything mail servers allow: letters, digits and ._%+-
    // before the @, a dotted host name after it.
    static std::optional<QString> normalizedEmail(const QString &email);
    static bool isAcceptablePassword(const QString &password);
    static std::optional<QString> normalizedName(const QString &name, bool *ok);
    static QString describe(Failure failure);

    // `tellwind-server add-user EMAIL`: reads the password from standard
    // input (without echo on a terminal) and creates the account.
    static int runAddUser(AccountStore &store, const QString &email);

private:
    QDateTime now() const { return m_clock ? m_clock() : QDateTime::currentDateTimeUtc(); }
    static QString hashToken(const QString &token);
    bool connect(QString *error);
    bool migrate(QString *error);
    bool begin();
    bool commit();
    void rollback();
    // One statement with its values; on a lost connection it reconnects and
    // tries once more. Nothing when it failed.
    std::optional<QSqlQuery> run(const QString &sql, const QVariantList &values = {});

    QString m_dataDir;
    QString m_databaseUrl;
    QString m_databasePassword;
    QString m_connectionName;
    std::function<QDateTime()> m_clock;
    SigninLimits m_limits;
    bool m_inTransaction = false;
};
