#pragma once

// The program started as a user starts it, its standard output read line by line.

#include <QDeadlineTimer>
#include <QProcess>
#include <QSettings>
#include <QStringList>
#include <QTest>

#include <memory>

inline const QString tellwindReady = QStringLiteral("✅ Window configured as floating borderless");

inline QString tellwindProgram()
{
    return qEnvironmentVariable("TELLWIND_BUILD_DIR") + QStringLiteral("/tellwind");
}

// A user whose settings live under `folder`; one who has seen the welcome window unless told otherwise.
inline QProcessEnvironment userEnvironment(const QString &folder, bool onboarded = true)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), folder + QStringLiteral("/config"));
    if (onboarded)
        QSettings(folder + QStringLiteral("/config/Tellwind/Tellwind.conf"), QSettings::IniFormat)
            .setValue(QStringLiteral("hasCompletedOnboarding"), true);
    return environment;
}

// Whether `typed` holds every word of `sentence` but the one the recognizer may mishear.
inline bool heardAllButOne(const QString &sentence, const QString &typed)
{
    const QStringList words = typed.toLower().split(u' ');
    qsizetype heard = 0;
    for (const QString &word : sentence.split(u' '))
        heard += words.contains(word);
    return heard >= sentence.count(u' ');
}

class Child
{
public:
    explicit Child(const QProcessEnvironment &environment) { m_process.setProcessEnvironment(environment); }
    ~Child()
    {
        m_process.kill();
        m_process.waitForFinished(3000);
    }

    static std::unique_ptr<Child> start(
        const QProcessEnvironment &environment, const QString &program, const QStringList &args = {})
    {
        auto child = std::make_unique<Child>(environment);
        child->start(program, args);
        return child;
    }
    void start(const QString &program, const QStringList &args = {}) { m_process.start(program, args); }
    QProcess &process() { return m_process; }
    // Whether it has exited by then. (waitForFinished alone answers false
    // for a process whose end an earlier wait already saw.)
    bool hasEnded(int milliseconds)
    {
        return m_process.state() == QProcess::NotRunning || m_process.waitForFinished(milliseconds);
    }

    QStringList lines()
    {
        m_buffer += m_process.readAllStandardOutput();
        return QString::fromUtf8(m_buffer).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    QString log() { return lines().join(u'\n'); }
    // Waits until a line starts with `text`, or the process has ended.
    bool waitForLine(const QString &text, int timeoutMs = 10000)
    {
        for (QDeadlineTimer deadline(timeoutMs); !deadline.hasExpired(); m_process.waitForReadyRead(50)) {
            for (const QString &line : lines())
                if (line.startsWith(text))
                    return true;
            if (m_process.state() == QProcess::NotRunning && !m_process.bytesAvailable())
                return false;
        }
        return false;
    }
    // With tellwind.speech.debug on: what the on-device recognizer heard last,
    // and the log without those lines.
    static inline const QString heardPrefix = QStringLiteral("📝 [On-device STT] ");
    QString heard()
    {
        const QStringList results = lines().filter(heardPrefix);
        return results.isEmpty() ? QString() : results.last().section(": ", 1);
    }
    QStringList linesOtherThanHeard()
    {
        QStringList kept = lines();
        kept.removeIf([](const QString &line) { return line.startsWith(heardPrefix); });
        return kept;
    }
    bool waitUntilHeard(const QString &sentence, int timeoutMs = 15000)
    {
        return QTest::qWaitFor([&] { return heardAllButOne(sentence, heard()); }, timeoutMs);
    }
    // The program has nothing left to do (typing included) once it has logged nothing for a while.
    void waitUntilQuiet(int quietMs = 1500)
    {
        for (qsizetype seen = -1; seen != lines().size(); QTest::qWait(quietMs))
            seen = lines().size();
    }

private:
    QProcess m_process;
    QByteArray m_buffer;
};
