#include "AccountStore.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>
#include <QVariant>

#include <sodium.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace {

bool fail(QString *error, const QString &reason)
{
    if (error)
        *error = reason;
    return false;
}

bool isAsciiAlnum(QChar c)
{
    return (c >= QLatin1Char('a') && c <= QLatin1Char('z')) || (c >= QLatin1Char('A') && c <= QLatin1Char('Z'))
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

// A password hash to check against when the address is unknown, so that a
// wrong address takes as long as a wrong password.
const QByteArray &decoyHash()
{
    static const QByteArray hash = [] {
        char out[crypto_pwhash_STRBYTES];
        const char decoy[] = "decoy password";
        if (crypto_pwhash_str(out, decoy, sizeof decoy - 1, crypto_pwhash_OPSLIMIT_INTERACTIVE,
                              crypto_pwhash_MEMLIMIT_INTERACTIVE)
            != 0)
            return QByteArray();
        return QByteArray(out);
    }();
    return hash;
}

bool verifyPassword(const QByteArray &hash, const QString &password)
{
    if (hash.isEmpty())
        return false;
    const QByteArray utf8 = password.toUtf8();
    return crypto_pwhash_str_verify(hash.constData(), utf8.constData(), quint64(utf8.size())) == 0;
}

} // namespace

AccountStore::AccountStore(const QString &dataDir)
    : m_dataDir(dataDir), m_connectionName(QStringLiteral("accounts-") + QUuid::createUuid().toString())
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

bool AccountStore::isReachable() const
{
    QSqlDatabase db = QSqlDatabase::database(m_connectionName, false);
    if (!db.isOpen())
        return false;
    // An SQLite file removed under the open handle still answers from the
    // orphaned copy, and every write would then be lost.
    if (db.driverName() == QLatin1String("QSQLITE") && !QFileInfo::exists(db.databaseName()))
        return false;
    QSqlQuery query(db);
    return query.exec(QStringLiteral("SELECT 1")) && query.next();
}

bool AccountStore::open(QString *error)
{
    if (sodium_init() < 0)
        return fail(error, QStringLiteral("libsodium could not be initialised"));
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

    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connectionName);
    db.setDatabaseName(path);
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
    if (!db.open())
        return fail(error, QStringLiteral("Cannot open %1: %2").arg(path, db.lastError().text()));

    QSqlQuery query(db);
    const char *statements[] = {
        "PRAGMA foreign_keys = ON",
        "CREATE TABLE IF NOT EXISTS users ("
        " id TEXT PRIMARY KEY,"
        " email TEXT NOT NULL UNIQUE,"
        " name TEXT,"
        " provider TEXT NOT NULL DEFAULT 'email',"
        " passwordHash TEXT NOT NULL,"
        " createdAt INTEGER NOT NULL)",
        "CREATE TABLE IF NOT EXISTS sessions ("
        " tokenHash TEXT PRIMARY KEY,"
        " userId TEXT NOT NULL REFERENCES users(id) ON DELETE CASCADE,"
        " kind TEXT NOT NULL,"
        " createdAt INTEGER NOT NULL,"
        " expiresAt INTEGER NOT NULL)",
        "CREATE INDEX IF NOT EXISTS sessionsByExpiry ON sessions(expiresAt)",
    };
    for (const char *statement : statements) {
        if (!query.exec(QString::fromLatin1(statement)))
            return fail(error, QStringLiteral("Cannot prepare %1: %2").arg(path, query.lastError().text()));
    }
    query.prepare(QStringLiteral("DELETE FROM sessions WHERE expiresAt <= ?"));
    query.addBindValue(now().toMSecsSinceEpoch());
    query.exec();
    return true;
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

std::variant<AccountStore::Account, AccountStore::Failure>
AccountStore::createAccount(const QString &email, const QString &password, const QString &name)
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

    char hash[crypto_pwhash_STRBYTES];
    const QByteArray utf8 = password.toUtf8();
    if (crypto_pwhash_str(hash, utf8.constData(), quint64(utf8.size()), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                          crypto_pwhash_MEMLIMIT_INTERACTIVE)
        != 0)
        return Failure::storage;

    Account account{QUuid::createUuid().toString(QUuid::WithoutBraces), *address, displayName,
                    QStringLiteral("email"), now()};
    // Whole seconds keep the stored and the reported creation time identical.
    account.createdAt = QDateTime::fromSecsSinceEpoch(account.createdAt.toSecsSinceEpoch(), Qt::UTC);

    QSqlQuery query(QSqlDatabase::database(m_connectionName));
    query.prepare(QStringLiteral("INSERT INTO users (id, email, name, provider, passwordHash, createdAt)"
                                 " VALUES (?, ?, ?, ?, ?, ?)"));
    query.addBindValue(account.id);
    query.addBindValue(account.email);
    query.addBindValue(displayName ? QVariant(*displayName) : QVariant(QMetaType(QMetaType::QString)));
    query.addBindValue(account.provider);
    query.addBindValue(QString::fromLatin1(hash));
    query.addBindValue(account.createdAt.toSecsSinceEpoch());
    if (!query.exec()) {
        QSqlQuery exists(QSqlDatabase::database(m_connectionName));
        exists.prepare(QStringLiteral("SELECT 1 FROM users WHERE email = ?"));
        exists.addBindValue(account.email);
        if (exists.exec() && exists.next())
            return Failure::emailTaken;
        return Failure::storage;
    }
    return account;
}

namespace {

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

const QString accountColumns = QStringLiteral("users.id, users.email, users.name, users.provider, users.createdAt");

} // namespace

std::variant<AccountStore::Account, AccountStore::Failure> AccountStore::authenticate(const QString &email,
                                                                                      const QString &password)
{
    const auto address = normalizedEmail(email);
    if (!address)
        return Failure::invalidEmail;
    if (password.isEmpty() || password.size() > maximumPasswordLength)
        return Failure::wrongCredentials;

    QSqlQuery query(QSqlDatabase::database(m_connectionName));
    query.prepare(QStringLiteral("SELECT %1, users.passwordHash FROM users WHERE email = ?").arg(accountColumns));
    query.addBindValue(*address);
    if (!query.exec())
        return Failure::storage;
    if (!query.next()) {
        verifyPassword(decoyHash(), password);
        return Failure::wrongCredentials;
    }
    const Account account = accountFrom(query);
    if (!verifyPassword(query.value(5).toString().toLatin1(), password))
        return Failure::wrongCredentials;
    return account;
}

std::optional<AccountStore::Account> AccountStore::account(const QString &id)
{
    QSqlQuery query(QSqlDatabase::database(m_connectionName));
    query.prepare(QStringLiteral("SELECT %1 FROM users WHERE id = ?").arg(accountColumns));
    query.addBindValue(id);
    if (!query.exec() || !query.next())
        return std::nullopt;
    return accountFrom(query);
}

int AccountStore::accountCount()
{
    QSqlQuery query(QSqlDatabase::database(m_connectionName));
    if (!query.exec(QStringLiteral("SELECT COUNT(*) FROM users")) || !query.next())
        return -1;
    return query.value(0).toInt();
}

namespace {

QString kindName(AccountStore::SessionKind kind)
{
    return kind == AccountStore::SessionKind::app ? QStringLiteral("app") : QStringLiteral("browser");
}

} // namespace

std::optional<QString> AccountStore::createSession(const QString &accountId, SessionKind kind)
{
    const QString token = randomToken();
    const qint64 created = now().toMSecsSinceEpoch();
    QSqlQuery query(QSqlDatabase::database(m_connectionName));
    query.prepare(QStringLiteral(
        "INSERT INTO sessions (tokenHash, userId, kind, createdAt, expiresAt) VALUES (?, ?, ?, ?, ?)"));
    query.addBindValue(hashToken(token));
    query.addBindValue(accountId);
    query.addBindValue(kindName(kind));
    query.addBindValue(created);
    query.addBindValue(created + sessionLifetimeSeconds * 1000);
    if (!query.exec())
        return std::nullopt;
    return token;
}

AccountStore::SessionLookup AccountStore::findSession(const QString &token, SessionKind kind)
{
    if (token.isEmpty())
        return {};
    const QString tokenHash = hashToken(token);
    QSqlQuery query(QSqlDatabase::database(m_connectionName));
    query.prepare(QStringLiteral("SELECT %1, sessions.expiresAt FROM sessions"
                                 " JOIN users ON users.id = sessions.userId"
                                 " WHERE sessions.tokenHash = ? AND sessions.kind = ?")
                      .arg(accountColumns));
    query.addBindValue(tokenHash);
    query.addBindValue(kindName(kind));
    if (!query.exec() || !query.next())
        return {};
    if (query.value(5).toLongLong() <= now().toMSecsSinceEpoch()) {
        QSqlQuery remove(QSqlDatabase::database(m_connectionName));
        remove.prepare(QStringLiteral("DELETE FROM sessions WHERE tokenHash = ?"));
        remove.addBindValue(tokenHash);
        remove.exec();
        return {SessionState::expired, std::nullopt};
    }
    return {SessionState::valid, accountFrom(query)};
}

void AccountStore::deleteSession(const QString &token)
{
    QSqlQuery query(QSqlDatabase::database(m_connectionName));
    query.prepare(QStringLiteral("DELETE FROM sessions WHERE tokenHash = ?"));
    query.addBindValue(hashToken(token));
    query.exec();
}

namespace {

// One line from standard input, without echo when it is a terminal.
std::optional<QString> readPassword()
{
    const bool terminal = isatty(STDIN_FILENO);
    termios saved{};
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

int AccountStore::runAddUser(const QString &dataDir, const QString &email)
{
    if (!normalizedEmail(email)) {
        std::fprintf(stderr, "%s\n", qPrintable(describe(Failure::invalidEmail)));
        return 2;
    }
    AccountStore store(dataDir);
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
