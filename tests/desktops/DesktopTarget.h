#pragma once

// What a test types into on the desktop of desktop-session.sh, keeping what it holds in a file: a native
// terminal (foot on GNOME, konsole on KDE, where foot dies on KWin's virtual output) running raw-reader.py,
// or a GTK 4 text field (text-field.py).
#include "output/TextInsertionService.h"

#include <qcoro/qcorotask.h>

#include <QFile>
#include <QProcess>
#include <QTest>

inline QString desktopName()
{
    return qEnvironmentVariable("TELLWIND_DESKTOP");
}
inline QString desktopTool(const QString &name)
{
    return qEnvironmentVariable("TELLWIND_DESKTOP_TOOLS") + '/' + name;
}

// How many times GNOME's permission dialog was answered by the session's answerer.
inline int dialogsAnswered()
{
    QFile file(qEnvironmentVariable("XDG_RUNTIME_DIR") + "/dialogs-answered");
    return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed().toInt() : 0;
}

// A chord pressed "on the desktop" from a RemoteDesktop session of its own, as another keyboard would.
inline bool pressOnDesktop(const QStringList &keys)
{
    QProcess process;
    process.start("python3", QStringList { desktopTool("press-keys.py") } + keys);
    return process.waitForFinished(60000) && process.exitCode() == 0;
}

class DesktopTarget
{
public:
    enum class Kind { terminal, field };

    explicit DesktopTarget(const QString &path, Kind kind = Kind::terminal)
        : m_path(path)
    {
        const QStringList reader { "python3", desktopTool("raw-reader.py"), path };
        const bool kde = desktopName() == "kde";
        if (kind == Kind::field) {
            m_terminal.start("/usr/bin/python3", { desktopTool("text-field.py"), path });
        } else if (kde) {
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert("QT_QPA_PLATFORM", "wayland");
            m_terminal.setProcessEnvironment(environment);
            m_terminal.start("konsole", QStringList { "--nofork", "--separate", "-e" } + reader);
        } else {
            m_terminal.start("foot", QStringList { "-e" } + reader);
        }
        // FILE.ready once the terminal reports its focus (foot only on a later change).
        m_ready = m_terminal.waitForStarted()
            && QTest::qWaitFor(
                [&path] { return QFile::exists(path + ".ready") || QFile::exists(path); }, 20000);
        // KWin may keep a new window from the focus when input went elsewhere last; a user would click.
        if (m_ready && kde)
            m_ready
                = QProcess::execute(desktopTool("focus-kde.sh"), { QString::number(m_terminal.processId()) })
                == 0;
    }
    ~DesktopTarget()
    {
        m_terminal.kill();
        m_terminal.waitForFinished(3000);
    }
    bool isReady() const { return m_ready; }

    // Whether the target has the keyboard focus by its own last report.
    bool keepsFocus() const
    {
        QFile file(m_path + ".focus");
        return !file.open(QIODevice::ReadOnly) || file.readAll() != "out";
    }

    // A new window gets the keyboard focus a moment after it shows: dictate a probe through `service` until
    // one arrives, raw (it is left out of received()).
    bool settle(TextInsertionService &service)
    {
        for (int attempt = 0; attempt < 15 && raw().isEmpty(); ++attempt) {
            QCoro::waitFor(
                service.insertTranscript(service.beginDictation(), { ++m_recording, 0, "x", true }));
            (void)QTest::qWaitFor([this] { return !raw().isEmpty(); }, 1000);
        }
        m_probe = raw().size();
        return m_probe > 0;
    }

    // One dictation of `transcripts`, each a revision of the one utterance.
    void dictate(TextInsertionService &service, const QStringList &transcripts)
    {
        m_probe = raw().size(); // a probe that arrived late too
        const std::shared_ptr<TypingScope> scope = service.beginDictation();
        ++m_recording;
        for (const QString &transcript : transcripts)
            QCoro::waitFor(service.insertTranscript(scope, { m_recording, 0, transcript, true }));
    }

    // Everything received, the probes included.
    QString raw() const
    {
        QFile file(m_path);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }
    QString text() const
    {
        QString typed = raw().mid(m_probe);
        // A late probe, and the separator after one, are the probe's. (No text dictated starts with x, . or
        // space.)
        qsizetype start = 0;
        while (start < typed.size() && QStringView(u"x. ").contains(typed.at(start)))
            ++start;
        return typed.mid(start);
    }
    // What arrived once it matches `expected`, or after a bounded wait for the last keys.
    QString received(const QString &expected) const
    {
        (void)QTest::qWaitFor([&] { return text() == expected; }, 5000);
        return text();
    }

private:
    QString m_path;
    QProcess m_terminal;
    bool m_ready = false;
    qsizetype m_probe = 0;
    // Recordings are numbered across targets, as one program run numbers them.
    static inline quint64 m_recording = 0;
};
