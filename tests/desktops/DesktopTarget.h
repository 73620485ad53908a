#pragma once

#include "output/TextInsertionService.h"

#include <QFile>
#include <QProcess>
#include <QTest>

#include <qcoro/qcorotask.h>

// Shared by the desktop tests and the typing benchmark, which run inside desktop-session.sh.
inline const QString desktop = qEnvironmentVariable("TELLWIND_DESKTOP");
inline const QString tools = qEnvironmentVariable("TELLWIND_DESKTOP_TOOLS") + '/';
inline const bool onKde = desktop == "kde";

// raw-reader.py in a native terminal (foot on GNOME; konsole on KDE, where foot dies on KWin's virtual
// output) or as a GTK 4 text field, keeping what it holds in a file.
class DesktopTarget
{
public:
    enum class Kind { terminal, field };

    explicit DesktopTarget(const QString &path, Kind kind = Kind::terminal)
        : m_path(path)
    {
        const QStringList reader { "python3", tools + "raw-reader.py", path };
        if (kind == Kind::field) {
            m_terminal.start("/usr/bin/python3", { tools + "raw-reader.py", "--field", path });
        } else if (onKde) {
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
        if (m_ready && onKde)
            m_ready
                = QProcess::execute(tools + "focus-kde.sh", { QString::number(m_terminal.processId()) }) == 0;
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

    // A new window gets the focus a moment after it shows: dictate probes until one arrives (not received()).
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
        // A late probe and the separator after it are the probe's (no text dictated starts so).
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
