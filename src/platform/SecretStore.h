#pragma once

#include <QString>

#include <qcoro/qcorotask.h>

#include <optional>

// Where a secret of the user's (the account's session token) is kept: the
// desktop's keyring, or a file only the user can read where none answers.
class SecretStore
{
public:
    virtual ~SecretStore() = default;

    // False for the file: the settings tell the user so.
    virtual bool isKeyring() const = 0;

    struct Read {
        std::optional<QString> value; // nothing stored under the key, or it could not be read
        QString error; // for the log, when it could not be read
    };
    virtual QCoro::Task<Read> read(QString key) = 0;
    // Each answers the reason when it failed.
    virtual QCoro::Task<std::optional<QString>> write(QString key, QString value) = 0;
    virtual QCoro::Task<std::optional<QString>> remove(QString key) = 0;
};
