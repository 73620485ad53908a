#include "platform/xdg/DesktopWorkspace.h"

#include "common/Log.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

namespace
{

QString helpFileName(Workspace::Pane pane)
{
    switch (pane) {
    case Workspace::Pane::accessibility:
        return QStringLiteral("accessibility.html");
    case Workspace::Pane::microphone:
        return QStringLiteral("microphone.html");
    }
    return {};
}

void openContainingFolder(const QString &path)
{
    QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(path).absolutePath()));
}

// Sound settings of the common desktops, each started without a shell.
struct SoundSettings {
    const char *program;
    QStringList arguments;
};

bool openSoundSettings()
{
    const SoundSettings candidates[] = {
        { "gnome-control-center", { QStringLiteral("sound") } },
        { "systemsettings", { QStringLiteral("kcm_pulseaudio") } },
        { "mate-volume-control", {} },
        { "pavucontrol-qt", { QStringLiteral("--tab=4") } },
        { "pavucontrol", { QStringLiteral("--tab=4") } },
    };
    for (const SoundSettings &candidate : candidates) {
        const QString program = QStandardPaths::findExecutable(QString::fromLatin1(candidate.program));
        if (!program.isEmpty() && QProcess::startDetached(program, candidate.arguments))
            return true;
    }
    return false;
}

} // namespace

bool DesktopWorkspace::openUrl(const QUrl &url)
{
    if (!url.isValid())
        return false;
    return QDesktopServices::openUrl(url);
}

void DesktopWorkspace::revealFile(const QString &path)
{
    const QString absolute = QFileInfo(path).absoluteFilePath();
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.FileManager1"),
        QStringLiteral("/org/freedesktop/FileManager1"), QStringLiteral("org.freedesktop.FileManager1"),
        QStringLiteral("ShowItems"));
    call << QStringList { QUrl::fromLocalFile(absolute).toString() } << QString();

    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        openContainingFolder(absolute);
        return;
    }
    // No file manager on the bus is the common case on small desktops; the
    // folder itself is the next best thing.
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call));
    QObject::connect(
        watcher, &QDBusPendingCallWatcher::finished, watcher, [watcher, absolute](QDBusPendingCallWatcher *) {
            if (watcher->isError())
                openContainingFolder(absolute);
            watcher->deleteLater();
        });
}

void DesktopWorkspace::openSettingsPane(Pane pane)
{
    if (pane == Pane::microphone && openSoundSettings())
        return;
    const QString page = helpPage(pane);
    if (page.isEmpty()) {
        qCWarning(lcApp).noquote()
            << QStringLiteral("⚠️ No help page installed for '%1'").arg(helpFileName(pane));
        return;
    }
    QDesktopServices::openUrl(QUrl::fromLocalFile(page));
}

QString DesktopWorkspace::helpPage(Pane pane)
{
    const QString name = helpFileName(pane);
    const QString installed = QStandardPaths::locate(
        QStandardPaths::GenericDataLocation, QStringLiteral("tellwind/help/") + name);
    if (!installed.isEmpty())
        return installed;
    // Next to the executable: the installed prefix (bin/../share) or the
    // build tree, which carries a copy of the pages.
    const QDir appDir(QCoreApplication::applicationDirPath());
    for (const QString &relative : { QStringLiteral("../share/tellwind/help/"), QStringLiteral("help/") }) {
        const QString candidate = appDir.filePath(relative + name);
        if (QFileInfo::exists(candidate))
            return QFileInfo(candidate).canonicalFilePath();
    }
    return {};
}
