#pragma once

// A native Wayland terminal in the sway session of tests/wayland/sway-session.sh:
// its `cat` writes what it is typed into a file.
#include "platform/typing/virtualkeyboard/WaylandVirtualKeyboard.h"

#include <qcoro/qcorotask.h>

#include <QFile>
#include <QProcess>
#include <QTest>

inline QString swaymsg(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral("swaymsg"), arguments);
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
        m_foot.start(QStringLiteral("foot"),
            { QStringLiteral("--app-id=%1").arg(appId), QStringLiteral("-e"), QStringLiteral("sh"),
                QStringLiteral("-c"), QStringLiteral("exec cat > \"$0\""), path });
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
        swaymsg({ QStringLiteral("[app_id=\"%1\"] focus").arg(appId) });
        // The focused node is the only one whose "focused" is true; app_id
        // follows it within the same object.
        const QString tree = swaymsg({ QStringLiteral("-t"), QStringLiteral("get_tree") });
        const qsizetype focused = tree.indexOf(QStringLiteral("\"focused\": true"));
        return focused >= 0
            && tree.indexOf(QStringLiteral("\"app_id\": \"%1\"").arg(appId), focused) > focused
            && tree.indexOf(QStringLiteral("\"app_id\""), focused)
            == tree.indexOf(QStringLiteral("\"app_id\": \"%1\"").arg(appId), focused);
    }

    // One Ctrl+D hands over the unfinished line, the second ends cat.
    QString finish()
    {
        WaylandVirtualKeyboard keyboard(qEnvironmentVariable("WAYLAND_DISPLAY"));
        for (int i = 0; i < 2; ++i)
            QCoro::waitFor(keyboard.pressKey(*KeyChord::parse(QStringLiteral("ctrl+d"))));
        m_foot.waitForFinished(10000);
        QFile file(m_path);
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(file.readAll());
    }

private:
    QString m_path;
    QProcess m_foot;
    bool m_ready = false;
};
