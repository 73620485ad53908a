#pragma once

// A native Wayland terminal in the sway of sway-session.sh whose `cat` writes what it is typed into a file.
#include "platform/typing/virtualkeyboard/WaylandVirtualKeyboard.h"

#include <qcoro/qcorotask.h>

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

inline QString swaymsg(const QStringList &arguments)
{
    QProcess process;
    process.start("swaymsg", arguments);
    process.waitForFinished(10000);
    return QString::fromUtf8(process.readAllStandardOutput());
}

class FootTarget
{
public:
    static constexpr const char *appId = "tellwind-target";

    explicit FootTarget(const QString &path)
        : m_path(path)
    {
        QFile::remove(path);
        m_foot.start("foot", { QString("--app-id=") + appId, "-e", "sh", "-c", "exec cat > \"$0\"", path });
        m_ready = m_foot.waitForStarted() && QTest::qWaitFor([&path] { return QFile::exists(path); }, 10000)
            && QTest::qWaitFor([] { return isFocused(); }, 5000);
    }
    ~FootTarget()
    {
        m_foot.kill();
        m_foot.waitForFinished(3000);
    }
    bool isReady() const { return m_ready; }

    static bool isFocused()
    {
        swaymsg({ QString("[app_id=\"%1\"] focus").arg(appId) });
        return focusedAppId() == appId;
    }
    // The app_id of the window with the keyboard: the only node "focused", its app_id following.
    static QString focusedAppId()
    {
        const QString tree = swaymsg({ "-t", "get_tree" });
        const qsizetype focused = tree.indexOf("\"focused\": true");
        const QRegularExpressionMatch match
            = QRegularExpression(R"("app_id": "?([^",]*))").match(tree, focused);
        return focused >= 0 && match.hasMatch() ? match.captured(1) : QString();
    }

    // One Ctrl+D hands over the unfinished line, the second ends cat.
    QString finish()
    {
        WaylandVirtualKeyboard keyboard(qEnvironmentVariable("WAYLAND_DISPLAY"));
        for (int i = 0; i < 2; ++i)
            QCoro::waitFor(keyboard.pressKey(*KeyChord::parse("ctrl+d")));
        m_foot.waitForFinished(10000);
        QFile file(m_path);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

private:
    QString m_path;
    QProcess m_foot;
    bool m_ready = false;
};
