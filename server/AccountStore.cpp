#include "AccountStore.h"

#include "AccountOptions.h"
#include "PasswordHasher.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>
#include <QVariant>

#include <sodium.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace
{

bool fail(QString *error, const QString &reason)
{
    if (error)
        *error = reason;
    return false;
}

bool isAsciiAlnum(QChar c)
{
    return (c >= QLatin1Char('a') && c <= QLatin1Char('z'))
        || (c >= QLatin1Char('A') && c <= QLatin1Char('Z'))
        || (c >= QLatin1Char('0') && c <= QLatin1Char('9'));
}

bool hasControlCharacter(const QString &text)
{
    for (QChar c : text) {
        if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format
            || c.category() == QChar::Separator_Line || c.category() == QChar::Separator_Paragraph)
            return true;
    }
    return false;
}

QString randomToken()
{
    unsigned char bytes[32];
    randombytes_buf(bytes, sizeof bytes);
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(bytes), sizeof bytes)
                                   .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

QString newId()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

// Both databases understand these statements as written. Identifiers stay
// unquoted, so PostgreSQL folds them to lower case everywhere alike. Every
// version runs once, in its own transaction, and is never edited once
// released: a database made by an older server is brought forward step by
// step.
struct Migration {
    int version;
    QList<const char *> statements;
};

const QList<Migration> migrations = {
    // The schema from before versioning; IF NOT EXISTS adopts such a
    // database as it is.
    { 1,
        { "CREATE TABLE IF NOT EXISTS users ("
          " id TEXT PRIMARY KEY,"
          " email TEXT NOT NULL UNIQUE,"
          " name TEXT,"
          " provider TEXT NOT NULL DEFAULT 'email',"
          " passwordHash TEXT NOT NULL,"
          " createdAt BIGINT NOT NULL)",
            "CREATE TABLE IF NOT EXISTS sessions ("
            " tokenHash TEXT PRIMARY KEY,"
            " userId TEXT NOT NULL REFERENCES users(id) ON DELETE CASCADE,"
            " kind TEXT NOT NULL,"
            " createdAt BIGINT NOT NULL,"
            " expiresAt BIGINT NOT NULL)",
            "CREATE INDEX IF NOT EXISTS sessionsByExpiry ON sessions(expiresAt)" } },
    { 2,
        { "ALTER TABLE sessions ADD COLUMN signinId TEXT",
            "CREATE INDEX sessionsBySignin ON sessions(signinId)",
            "CREATE TABLE signinAttempts ("
            " attemptId TEXT NOT NULL,"
            " subject TEXT NOT NULL,"
            " at BIGINT NOT NULL)",
            "CREATE INDEX signinAttemptsBySubject ON signinAttempts(subject, at)",
            "CREATE INDEX signinAttemptsById ON signinAttempts(attemptId)" } },
};

} // namespace

AccountStore::AccountStore(
    const QString &dataDir, const QString &databaseUrl, const QString &databasePassword)
    : m_dataDir(dataDir)
    , m_databaseUrl(databaseUrl)
    , m_databasePassword(databasePassword)
    , m_connectionName(QStringLiteral("accounts-") + QUuid::createUuid().toString())
{
}

AccountStore::~AccountStore()
{
    if (QSqlDatabase::contains(m_connectionName)) {
        QSqlDatabase::database(m_connectionName, false).close();
        QSqlDatabase::removeDatabase(m_connectionName);
    }
}

QString AccountStore::databasePath() const
{
    return QDir(m_dataDir).filePath(QStringLiteral("accounts.sqlite"));
}

bool AccountStore::connect(QString *error)
{
    if (QSqlDatabase::contains(m_connectionName))
        QSqlDatabase::removeDatabase(m_connectionName);
    if (!isPostgres()) {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connectionName);
        db.setDatabaseName(databasePath());
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
        if (!db.open())
            return fail(
                error, QStringLiteral("Cannot open %1: %2").arg(databasePath(), db.lastError().text()));
        QSqlQuery pragma(db);
        if (!pragma.exec(QStringLiteral("PRAGMA foreign_keys = ON")))
            return fail(error, pragma.lastError().text());
        return true;
    }

    const auto address = PostgresAddress::parse(m_databaseUrl, error);
    if (!address)
        return false;
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL")))
        return fail(error, QStringLiteral("Qt's PostgreSQL driver (QPSQL) is not installed"));
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), m_connectionName);
    db.setHostName(address->host);
    db.setPort(address->port);
    db.setUserName(address->user);
    db.setDatabaseName(address->database);
    if (!m_databasePassword.isEmpty())
        db.setPassword(m_databasePassword);
    db.setConnectOptions(QStringLiteral("connect_timeout=5;application_name=tellwind-server"));
    if (!db.open()) {
        // The driver's text names the server and the cause, never the password.
        return fail(error,
            QStringLiteral("Cannot connect to PostgreSQL database %1 on %2: %3")
                .arg(address->database, address->host, db.lastError().text().trimmed()));
    }
    // "already exists, skipping" from every start of every replica is noise.
    QSqlQuery quiet(db);
    quiet.exec(QStringLiteral("SET client_min_messages TO warning"));
    return true;
}

bool AccountStore::open(QString *error)
{
    if (sodium_init() < 0)
        return fail(error, QStringLiteral("libsodium could not be initialised"));
    if (!isPostgres()) {
        if (!QDir().mkpath(m_dataDir))
            return fail(error, QStringLiteral("Cannot create the data folder %1").arg(m_dataDir));
        QFile::setPermissions(m_dataDir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        const QString path = databasePath();
        if (!QFileInfo::exists(path)) {
            QFile file(path);
            if (!file.open(QIODevice::WriteOnly))
                return fail(error, QStringLiteral("Cannot create %1: %2").arg(path, file.errorString()));
        }
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    }
    if (!connect(error) || !migrate(error))
        return false;
    purgeExpired();
    // Made now rather than on the first unknown address, which would
    // otherwise take twice as long as any other attempt.
    PasswordHasher::decoyHash();
    return true;
}

bool AccountStore::begin()
{
    QSqlDatabase db = QSqlDatabase::database(m_connectionName);
    if (isPostgres()) {
        m_inTransaction = db.transaction();
    } else {
        // Taking the write lock at once: two processes that both read first
        // and then write would have one of them fail instead of wait.
        QSqlQuery query(db);
        m_inTransaction = query.exec(QStringLiteral("BEGIN IMMEDIATE"));
    }
    return m_inTransaction;
}

bool AccountStore::commit()
{
    m_inTransaction = false;
    QSqlDatabase db = QSqlDatabase::database(m_connectionName);
    if (isPostgres())
        return db.commit();
    QSqlQuery query(db);
    return query.exec(QStringLiteral("COMMIT"));
}

void AccountStore::rollback()
{
    m_inTransaction = false;
    QSqlDatabase db = QSqlDatabase::database(m_connectionName);
    if (isPostgres()) {
        db.rollback();
        return;
    }
    QSqlQuery query(db);
    query.exec(QStringLiteral("ROLLBACK"));
}

bool AccountStore::migrate(QString *error)
{
    QSqlDatabase db = QSqlDatabase::database(m_connectionName);
    for (const Migration &migration : migrations) {
        if (!begin())
            return fail(error, QStringLiteral("Cannot start a schema update: %1").arg(db.lastError().text()));
        QSqlQuery query(db);
        const auto abort = [&](const QString &what) {
            const QString reason = query.lastError().text();
            rollback();
            return fail(error,
                QStringLiteral("Schema update %1 failed (%2): %3").arg(migration.version).arg(what, reason));
        };
        // Replicas starting together take turns; the second finds the work done.
        if (isPostgres() && !query.exec(QStringLiteral("SELECT pg_advisory_xact_lock(7331)")))
            return abort(QStringLiteral("lock"));
        if (!query.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS schema_version ("
                                       " version INTEGER PRIMARY KEY,"
                                       " appliedAt BIGINT NOT NULL)")))
            return abort(QStringLiteral("version table"));
        if (!query.exec(QStringLiteral("SELECT COALESCE(MAX(version), 0) FROM schema_version"))
            || !query.next())
            return abort(QStringLiteral("version"));
        const int current = query.value(0).toInt();
        query.finish();
        if (current > schemaVersion) {
            rollback();
            return fail(error,
                QStringLiteral("The account database has schema version %1, newer than this "
                               "server's %2: upgrade the server")
                    .arg(current)
                    .arg(schemaVersion));
        }
        if (current >= migration.version) {
            rollback();
            continue;
        }
        for (const char *statement : migration.statements) {
            if (!query.exec(QString::fromLatin1(statement)))
                return abort(QString::fromLatin1(statement).left(60));
        }
        query.prepare(QStringLiteral("INSERT INTO schema_version (version, appliedAt) VALUES (?, ?)"));
        query.addBindValue(migration.version);
        query.addBindValue(QDateTime::currentMSecsSinceEpoch());
        if (!query.exec())
            return abort(QStringLiteral("record"));
        if (!commit())
            return fail(error,
                QStringLiteral("Schema update %1 could not be committed: %2")
                    .arg(migration.version)
                    .arg(db.lastError().text()));
    }
    return true;
}

int AccountStore::appliedSchemaVersion()
{
    auto query = run(QStringLiteral("SELECT COALESCE(MAX(version), 0) FROM schema_version"));
    return query && query->next() ? query->value(0).toInt() : -1;
}

std::optional<QSqlQuery> AccountStore::run(const QString &sql, const QVariantList &values)
{
    for (int attempt = 0; attempt < 2; ++attempt) {
        bool lost = false;
        {
            QSqlDatabase db = QSqlDatabase::database(m_connectionName, false);
            QSqlQuery query(db);
            if (query.prepare(sql)) {
                for (const QVariant &value : values)
                    query.addBindValue(value);
                if (query.exec())
                    return query;
            }
            // A statement the database refused (a taken address, say) is
            // final; only a lost connection is worth a second try, and never
            // inside a transaction, which the new connection would not have.
            lost = !m_inTransaction
                && (query.lastError().type() == QSqlError::ConnectionError || !db.isOpen()
                    || (isPostgres() && !QSqlQuery(db).exec(QStringLiteral("SELECT 1"))));
        }
        if (!lost || attempt > 0 || !connect(nullptr))
            return std::nullopt;
    }
    return std::nullopt;
}

bool AccountStore::isReachable()
{
    // An SQLite file removed under the open handle still answers from the
    // orphaned copy, and every write would then be lost.
    if (!isPostgres() && !QFileInfo::exists(databasePath()))
        return false;
    auto query = run(QStringLiteral("SELECT 1"));
    return query && query->next();
}

std::optional<QString> AccountStore::normalizedEmail(const QString &email)
{
    const QString address = email.trimmed().toLower();
    if (address.size() > maximumEmailLength)
        return std::nullopt;
    const qsizetype at = address.indexOf(QLatin1Char('@'));
    if (at <= 0 || at != address.lastIndexOf(QLatin1Char('@')) || at > 64)
        return std::nullopt;
    const QString local = address.left(at);
    const QString domain = address.mid(at + 1);

    for (QChar c : local) {
        if (!isAsciiAlnum(c) && !QStringLiteral("._%+-").contains(c))
            return std::nullopt;
    }
    if (local.startsWith(QLatin1Char('.')) || local.endsWith(QLatin1Char('.'))
        || local.contains(QStringLiteral("..")))
        return std::nullopt;

    const QStringList labels = domain.split(QLatin1Char('.'));
    if (labels.size() < 2)
        return std::nullopt;
    for (const QString &label : labels) {
        if (label.isEmpty() || label.size() > 63 || label.startsWith(QLatin1Char('-'))
            || label.endsWith(QLatin1Char('-')))
            return std::nullopt;
        for (QChar c : label) {
            if (!isAsciiAlnum(c) && c != QLatin1Char('-'))
                return std::nullopt;
        }
    }
    const QString topLevel = labels.last();
    if (topLevel.size() < 2)
        return std::nullopt;
    for (QChar c : topLevel) {
        if (!c.isLetter())
            return std::nullopt;
    }
    return address;
}

bool AccountStore::isAcceptablePassword(const QString &password)
{
    return password.size() >= minimumPasswordLength && password.size() <= maximumPasswordLength
        && !password.contains(QChar(0)) && !hasControlCharacter(password);
}

std::optional<QString> AccountStore::normalizedName(const QString &name, bool *ok)
{
    const QString trimmed = name.trimmed();
    *ok = trimmed.size() <= maximumNameLength && !hasControlCharacter(trimmed);
    if (!*ok || trimmed.isEmpty())
        return std::nullopt;
    return trimmed;
}

QString AccountStore::describe(Failure failure)
{
    switch (failure) {
    case Failure::invalidEmail:
        return QStringLiteral("Enter a valid email address, such as name@example.com.");
    case Failure::invalidPassword:
        return QStringLiteral("Choose a password of %1 to %2 characters, without control characters.")
            .arg(minimumPasswordLength)
            .arg(maximumPasswordLength);
    case Failure::invalidName:
        return QStringLiteral("The name can have at most %1 characters, without control characters.")
            .arg(maximumNameLength);
    case Failure::emailTaken:
        return QStringLiteral("An account with this email address already exists.");
    case Failure::wrongCredentials:
        return QStringLiteral("The email address or the password is not correct.");
    case Failure::storage:
        return QStringLiteral("The account store is not available. Try again later.");
    }
    return {};
}

QString AccountStore::hashToken(const QString &token)
{
    return QString::fromLatin1(QCryptographicHash::hash(token.toUtf8(), QCryptographicHash::Sha256).toHex());
}

std::variant<AccountStore::NewAccount, AccountStore::Failure> AccountStore::checkNewAccount(
    const QString &email, const QString &password, const QString &name)
{
    const auto address = normalizedEmail(email);
    if (!address)
        return Failure::invalidEmail;
    if (!isAcceptablePassword(password))
        return Failure::invalidPassword;
    bool nameOk = false;
    const auto displayName = normalizedName(name, &nameOk);
    if (!nameOk)
        return Failure::invalidName;
    return NewAccount { *address, displayName };
}

std::variant<AccountStore::Account, AccountStore::Failure> AccountStore::insertAccount(
    const NewAccount &newAccount, const QByteArray &passwordHash)
{
    if (passwordHash.isEmpty())
        return Failure::storage;
    Account account { newId(), newAccount.email, newAccount.name, QStringLiteral("email"), now() };
    // Whole seconds keep the stored and the reported creation time identical.
    account.createdAt = QDateTime::fromSecsSinceEpoch(account.createdAt.toSecsSinceEpoch(), Qt::UTC);
    const auto inserted
        = run(QStringLiteral("INSERT INTO users (id, email, name, provider, passwordHash, createdAt)"
                             " VALUES (?, ?, ?, ?, ?, ?)"),
            { account.id, account.email,
                account.name ? QVariant(*account.name) : QVariant(QMetaType(QMetaType::QString)),
                account.provider, QString::fromLatin1(passwordHash), account.createdAt.toSecsSinceEpoch() });
    if (!inserted) {
        bool ok = false;
        return emailExists(account.email, &ok) ? Failure::emailTaken : Failure::storage;
    }
    return account;
}

bool AccountStore::emailExists(const QString &normalizedAddress, bool *ok)
{
    auto query = run(QStringLiteral("SELECT 1 FROM users WHERE email = ?"), { normalizedAddress });
    *ok = query.has_value();
    return query && query->next();
}

std::variant<AccountStore::Account, AccountStore::Failure> AccountStore::createAccount(
    const QString &email, const QString &password, const QString &name)
{
    const auto checked = checkNewAccount(email, password, name);
    if (const auto *failure = std::get_if<Failure>(&checked))
        return *failure;
    return insertAccount(std::get<NewAccount>(checked), PasswordHasher::hashNow(password));
}

namespace
{

AccountStore::Account accountFrom(const QSqlQuery &query)
{
    AccountStore::Account account;
    account.id = query.value(0).toString();
    account.email = query.value(1).toString();
    if (!query.value(2).isNull())
        account.name = query.value(2).toString();
    account.provider = query.value(3).toString();
    account.createdAt = QDateTime::fromSecsSinceEpoch(query.value(4).toLongLong(), Qt::UTC);
    return account;
}

const QString accountColumns
    = QStringLiteral("users.id, users.email, users.name, users.provider, users.createdAt");

} // namespace

std::optional<AccountStore::Credentials> AccountStore::credentials(const QString &normalizedAddress, bool *ok)
{
    auto query
        = run(QStringLiteral("SELECT %1, users.passwordHash FROM users WHERE email = ?").arg(accountColumns),
            { normalizedAddress });
    *ok = query.has_value();
    if (!query || !query->next())
        return std::nullopt;
    return Credentials { accountFrom(*query), query->value(5).toString().toLatin1() };
}

std::variant<AccountStore::Account, AccountStore::Failure> AccountStore::authenticate(
    const QString &email, const QString &password)
{
    const auto address = normalizedEmail(email);
    if (!address)
        return Failure::invalidEmail;
    if (password.isEmpty() || password.size() > maximumPasswordLength)
        return Failure::wrongCredentials;
    bool ok = false;
    const auto found = credentials(*address, &ok);
    if (!ok)
        return Failure::storage;
    const bool matches
        = PasswordHasher::verifyNow(found ? found->passwordHash : PasswordHasher::decoyHash(), password);
    if (!found || !matches)
        return Failure::wrongCredentials;
    return found->account;
}

std::optional<AccountStore::Account> AccountStore::account(const QString &id)
{
    auto query = run(QStringLiteral("SELECT %1 FROM users WHERE id = ?").arg(accountColumns), { id });
    if (!query || !query->next())
        return std::nullopt;
    return accountFrom(*query);
}

int AccountStore::accountCount()
{
    auto query = run(QStringLiteral("SELECT COUNT(*) FROM users"));
    if (!query || !query->next())
        return -1;
    return query->value(0).toInt();
}

namespace
{

QString kindName(AccountStore::SessionKind kind)
{
    return kind == AccountStore::SessionKind::app ? QStringLiteral("app") : QStringLiteral("browser");
}

} // namespace

std::optional<QString> AccountStore::createSession(
    const QString &accountId, SessionKind kind, const QString &signinId)
{
    const QString token = randomToken();
    const qint64 created = now().toMSecsSinceEpoch();
    const auto inserted
        = run(QStringLiteral("INSERT INTO sessions (tokenHash, userId, kind, createdAt, expiresAt, signinId)"
                             " VALUES (?, ?, ?, ?, ?, ?)"),
            { hashToken(token), accountId, kindName(kind), created, created + sessionLifetimeSeconds * 1000,
                signinId.isEmpty() ? QVariant(QMetaType(QMetaType::QString)) : QVariant(signinId) });
    if (!inserted)
        return std::nullopt;
    return token;
}

std::optional<AccountStore::SignIn> AccountStore::createSignIn(const QString &accountId)
{
    SignIn signIn;
    signIn.signinId = newId();
    if (!begin())
        return std::nullopt;
    const auto app = createSession(accountId, SessionKind::app, signIn.signinId);
    const auto browser = app ? createSession(accountId, SessionKind::browser, signIn.signinId) : std::nullopt;
    if (!browser || !commit()) {
        rollback();
        return std::nullopt;
    }
    signIn.appToken = *app;
    signIn.browserToken = *browser;
    return signIn;
}

AccountStore::SessionLookup AccountStore::findSession(const QString &token, SessionKind kind)
{
    if (token.isEmpty())
        return {};
    const QString tokenHash = hashToken(token);
    auto query = run(QStringLiteral("SELECT %1, sessions.expiresAt, sessions.signinId FROM sessions"
                                    " JOIN users ON users.id = sessions.userId"
                                    " WHERE sessions.tokenHash = ? AND sessions.kind = ?")
                         .arg(accountColumns),
        { tokenHash, kindName(kind) });
    if (!query)
        return { SessionState::unavailable, std::nullopt, {} };
    if (!query->next())
        return {};
    if (query->value(5).toLongLong() <= now().toMSecsSinceEpoch()) {
        run(QStringLiteral("DELETE FROM sessions WHERE tokenHash = ?"), { tokenHash });
        return { SessionState::expired, std::nullopt, {} };
    }
    return { SessionState::valid, accountFrom(*query), query->value(6).toString() };
}

bool AccountStore::deleteSession(const QString &token, SessionKind kind)
{
    auto query = run(QStringLiteral("DELETE FROM sessions WHERE tokenHash = ? AND kind = ?"),
        { hashToken(token), kindName(kind) });
    return query && query->numRowsAffected() > 0;
}

void AccountStore::endSignIn(const QString &browserToken)
{
    const SessionLookup lookup = findSession(browserToken, SessionKind::browser);
    if (!lookup.signinId.isEmpty())
        run(QStringLiteral("DELETE FROM sessions WHERE signinId = ?"), { lookup.signinId });
    deleteSession(browserToken, SessionKind::browser);
}

void AccountStore::purgeExpired()
{
    const qint64 nowMs = now().toMSecsSinceEpoch();
    run(QStringLiteral("DELETE FROM sessions WHERE expiresAt <= ?"), { nowMs });
    run(QStringLiteral("DELETE FROM signinAttempts WHERE at <= ?"),
        { nowMs - qint64(m_limits.window.count()) });
}

std::optional<qint64> AccountStore::retryAfterSeconds(const QStringList &subjects)
{
    QList<QPair<QString, int>> limits;
    for (const QString &subject : subjects)
        limits.append({ subject, m_limits.maxFailures });
    return retryAfterSeconds(limits);
}

std::optional<qint64> AccountStore::retryAfterSeconds(const QList<QPair<QString, int>> &subjectLimits)
{
    const qint64 nowMs = now().toMSecsSinceEpoch();
    const qint64 windowMs = m_limits.window.count();
    qint64 waitMs = 0;
    for (const auto &[subject, limit] : subjectLimits) {
        // The attempt whose passing brings the subject back under the limit.
        auto query = run(QStringLiteral("SELECT at FROM signinAttempts WHERE subject = ? AND at > ?"
                                        " ORDER BY at DESC LIMIT 1 OFFSET ?"),
            { subject, nowMs - windowMs, std::max(limit, 1) - 1 });
        if (!query)
            return std::nullopt;
        if (query->next())
            waitMs = std::max(waitMs, query->value(0).toLongLong() + windowMs - nowMs);
    }
    return waitMs <= 0 ? 0 : (waitMs + 999) / 1000;
}

QString AccountStore::recordSigninAttempt(const QStringList &subjects)
{
    const QString attemptId = newId();
    const qint64 nowMs = now().toMSecsSinceEpoch();
    for (const QString &subject : subjects) {
        if (!run(QStringLiteral("INSERT INTO signinAttempts (attemptId, subject, at) VALUES (?, ?, ?)"),
                { attemptId, subject, nowMs }))
            return {};
    }
    return attemptId;
}

void AccountStore::forgetSigninAttempt(const QString &attemptId)
{
    run(QStringLiteral("DELETE FROM signinAttempts WHERE attemptId = ?"), { attemptId });
}

namespace
{

// One line from standard input, without echo when it is a terminal.
std::optional<QString> readPassword()
{
    const bool terminal = isatty(STDIN_FILENO);
    termios saved {};
    if (terminal) {
        std::fputs("Password: ", stderr);
        std::fflush(stderr);
        if (tcgetattr(STDIN_FILENO, &saved) == 0) {
            termios quiet = saved;
            quiet.c_lflag &= ~tcflag_t(ECHO);
            tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
        }
    }
    std::string line;
    bool gotLine = false;
    for (int c; (c = std::fgetc(stdin)) != EOF;) {
        gotLine = true;
        if (c == '\n')
            break;
        line.push_back(char(c));
        if (line.size() > size_t(4 * AccountStore::maximumPasswordLength))
            break;
    }
    if (terminal) {
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
        std::fputs("\n", stderr);
    }
    if (!gotLine)
        return std::nullopt;
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    QByteArray bytes(line.data(), qsizetype(line.size()));
    QString password = QString::fromUtf8(bytes);
    if (password.toUtf8() != bytes)
        return QString(QChar(0)); // not UTF-8: refused as a password below
    return password;
}

} // namespace

int AccountStore::runAddUser(AccountStore &store, const QString &email)
{
    if (!normalizedEmail(email)) {
        std::fprintf(stderr, "%s\n", qPrintable(describe(Failure::invalidEmail)));
        return 2;
    }
    QString error;
    if (!store.open(&error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    const auto password = readPassword();
    if (!password) {
        std::fprintf(stderr, "No password given on standard input.\n");
        return 2;
    }
    const auto result = store.createAccount(email, *password);
    if (const auto *failure = std::get_if<Failure>(&result)) {
        std::fprintf(stderr, "%s\n", qPrintable(describe(*failure)));
        return *failure == Failure::storage ? 1 : 2;
    }
    const Account &account = std::get<Account>(result);
    std::printf("Created account %s for %s\n", qPrintable(account.id), qPrintable(account.email));
    return 0;
}
