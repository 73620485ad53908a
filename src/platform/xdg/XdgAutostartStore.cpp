#include "platform/xdg/XdgAutostartStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTextStream>

namespace
{

struct DesktopEntry {
    QString exec;
    bool hidden = false;
    bool gnomeDisabled = false;
};

// The few keys of the [Desktop Entry] group that decide whether the desktop
// starts the program.
std::optional<DesktopEntry> readEntry(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return std::nullopt;
    DesktopEntry entry;
    bool inMainGroup = false;
    QTextStream stream(&file);
    while (!stream.atEnd()) {
        const QString line = stream.readLine().trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inMainGroup = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        if (!inMainGroup)
            continue;
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals < 0)
            continue;
        const QString key = line.left(equals).trimmed();
        const QString value = line.mid(equals + 1).trimmed();
        if (key == QLatin1String("Exec"))
            entry.exec = value;
        else if (key == QLatin1String("Hidden"))
            entry.hidden = value == QLatin1String("true");
        else if (key == QLatin1String("X-GNOME-Autostart-enabled"))
            entry.gnomeDisabled = value == QLatin1String("false");
    }
    return entry;
}

// Undoes the string-value escapes of a desktop entry (\s \n \t \r \\).
QString unescapeValue(const QString &value)
{
    QString result;
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value.at(i);
        if (c != QLatin1Char('\\') || i + 1 == value.size()) {
            result += c;
            continue;
        }
        const QChar next = value.at(++i);
        if (next == QLatin1Char('s'))
            result += QLatin1Char(' ');
        else if (next == QLatin1Char('n'))
            result += QLatin1Char('\n');
        else if (next == QLatin1Char('t'))
            result += QLatin1Char('\t');
        else if (next == QLatin1Char('r'))
            result += QLatin1Char('\r');
        else
            result += next;
    }
    return result;
}

bool isRunnable(const QString &program)
{
    if (program.isEmpty())
        return false;
    if (program.contains(QLatin1Char('/'))) {
        const QFileInfo info(program);
        return info.isFile() && info.isExecutable();
    }
    return !QStandardPaths::findExecutable(program).isEmpty();
}

} // namespace

XdgAutostartStore::XdgAutostartStore(
    QString userConfigDir, QStringList systemConfigDirs, QString executablePath)
    : m_userConfigDir(std::move(userConfigDir))
    , m_systemConfigDirs(std::move(systemConfigDirs))
    , m_executablePath(std::move(executablePath))
{
    if (m_userConfigDir.isEmpty())
        m_userConfigDir = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    if (m_systemConfigDirs.isEmpty()) {
        m_systemConfigDirs
            = QString::fromLocal8Bit(qgetenv("XDG_CONFIG_DIRS")).split(QLatin1Char(':'), Qt::SkipEmptyParts);
        if (m_systemConfigDirs.isEmpty())
            m_systemConfigDirs = { QStringLiteral("/etc/xdg") };
    }
    if (m_executablePath.isEmpty())
        m_executablePath = QCoreApplication::applicationFilePath();
}

QString XdgAutostartStore::userEntryPath() const
{
    return m_userConfigDir + QStringLiteral("/autostart/") + QLatin1String(entryName);
}

QString XdgAutostartStore::systemEntryPath() const
{
    for (const QString &dir : m_systemConfigDirs) {
        const QString path = dir + QStringLiteral("/autostart/") + QLatin1String(entryName);
        if (QFileInfo::exists(path))
            return path;
    }
    return {};
}

AutostartStore::Status XdgAutostartStore::status() const
{
    QString path = userEntryPath();
    if (!QFileInfo::exists(path))
        path = systemEntryPath();
    if (path.isEmpty())
        return Status::notRegistered;
    const std::optional<DesktopEntry> entry = readEntry(path);
    if (!entry || entry->hidden || entry->gnomeDisabled)
        return Status::notRegistered;
    if (!isRunnable(execProgram(entry->exec)))
        return Status::notFound;
    return Status::enabled;
}

std::optional<QString> XdgAutostartStore::registerApp()
{
    return writeUserEntry(false);
}

std::optional<QString> XdgAutostartStore::unregisterApp()
{
    // A packaged entry would still start the program; only a hidden entry
    // of the user's own switches it off.
    if (!systemEntryPath().isEmpty())
        return writeUserEntry(true);
    const QString path = userEntryPath();
    if (!QFileInfo::exists(path))
        return std::nullopt;
    QFile file(path);
    if (!file.remove())
        return QStringLiteral("Cannot remove %1: %2").arg(path, file.errorString());
    return std::nullopt;
}

std::optional<QString> XdgAutostartStore::writeUserEntry(bool hidden)
{
    const QString folder = m_userConfigDir + QStringLiteral("/autostart");
    if (!QDir().mkpath(folder))
        return QStringLiteral("Cannot create the folder %1").arg(folder);
    QSaveFile file(userEntryPath());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
        return QStringLiteral("Cannot write %1: %2").arg(file.fileName(), file.errorString());
    QString text
        = QStringLiteral("[Desktop Entry]\n"
                         "Type=Application\n"
                         "Name=Tellwind\n"
                         "Comment=Dictation into any application\n"
                         "Exec=%1\n"
                         "Terminal=false\n"
                         "X-GNOME-Autostart-enabled=%2\n")
              .arg(execValue(m_executablePath), hidden ? QStringLiteral("false") : QStringLiteral("true"));
    if (hidden)
        text += QStringLiteral("Hidden=true\n");
    file.write(text.toUtf8());
    if (!file.commit())
        return QStringLiteral("Cannot write %1: %2").arg(file.fileName(), file.errorString());
    return std::nullopt;
}

QString XdgAutostartStore::execValue(const QString &path)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`=%");
    QString argument = path;
    argument.replace(QLatin1Char('%'), QStringLiteral("%%"));
    bool needsQuotes = false;
    for (const QChar c : path)
        needsQuotes = needsQuotes || reserved.contains(c);
    if (needsQuotes) {
        QString quoted;
        for (const QChar c : argument) {
            if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$')
                || c == QLatin1Char('\\'))
                quoted += QLatin1Char('\\');
            quoted += c;
        }
        argument = QLatin1Char('"') + quoted + QLatin1Char('"');
    }
    // The whole value is a desktop-entry string, whose own escape is "\\".
    argument.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    return argument;
}

QString XdgAutostartStore::execProgram(const QString &exec)
{
    const QString command = unescapeValue(exec).trimmed();
    QString program;
    if (command.startsWith(QLatin1Char('"'))) {
        for (qsizetype i = 1; i < command.size(); ++i) {
            const QChar c = command.at(i);
            if (c == QLatin1Char('"'))
                break;
            if (c == QLatin1Char('\\') && i + 1 < command.size())
                program += command.at(++i);
            else
                program += c;
        }
    } else {
        program = command.section(QLatin1Char(' '), 0, 0);
    }
    program.replace(QStringLiteral("%%"), QStringLiteral("%"));
    return program;
}
