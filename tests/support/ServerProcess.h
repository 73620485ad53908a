#pragma once

#include "support/RawHttp.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

// The real tellwind-server of this build on a free loopback port, with a data folder of its own that
// outlives restarts; stopped when this goes away.
class ServerProcess
{
public:
    explicit ServerProcess(QStringList arguments = {})
        : arguments(std::move(arguments))
    {
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        // Read as it comes, so that a busy server never blocks on a full pipe.
        QObject::connect(&m_process, &QProcess::readyReadStandardOutput, &m_process,
            [this] { m_output += m_process.readAllStandardOutput(); });
    }
    ~ServerProcess() { stop(); }
    void stop()
    {
        m_process.terminate();
        if (!m_process.waitForFinished(5000))
            m_process.kill();
        m_process.waitForFinished(5000);
    }

    QStringList arguments; // after --listen and --data-dir
    // Standard error into logLines() as well (else it goes to the test's own).
    bool captureErrors = false;
    QString listen = QStringLiteral("127.0.0.1:0");
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();

    static QString binary()
    {
        return qEnvironmentVariable("TELLWIND_BUILD_DIR") + QStringLiteral("/tellwind-server");
    }
    QString dataDir() const { return m_data.path(); }

    // Returns once the server listens; false, saying why, when it exits or stays silent. Unless `listen`
    // names one, the kernel picks the port, so that runs side by side cannot collide.
    bool start()
    {
        m_output.clear();
        m_process.setProcessEnvironment(environment);
        if (captureErrors)
            m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start(binary(),
            QStringList { QStringLiteral("--listen"), listen, QStringLiteral("--data-dir"), dataDir() }
                + arguments);
        static const QRegularExpression listening(QStringLiteral("listening on http://[^ ]+:(\\d+)"));
        QRegularExpressionMatch match;
        (void)QTest::qWaitFor(
            [&] {
                match = listening.match(QString::fromUtf8(m_output));
                return match.hasMatch() || m_process.state() == QProcess::NotRunning;
            },
            120000);
        m_port = match.hasMatch() ? match.captured(1).toUShort() : 0;
        if (m_port == 0)
            qWarning("tellwind-server %s; it printed:\n%s",
                m_process.state() == QProcess::Running ? "did not listen within 120 s" : "exited",
                m_output.constData());
        return m_port != 0;
    }

    QProcess &process() { return m_process; }
    // Whether it has exited by then (waitForFinished alone answers false once an earlier wait saw the end).
    bool hasEnded(int milliseconds)
    {
        return m_process.state() == QProcess::NotRunning || m_process.waitForFinished(milliseconds);
    }
    quint16 port() const { return m_port; }
    QString baseUrl() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_port); }
    HttpMessage send(const QByteArray &bytes) const { return RawExchange(m_port, bytes).wait(); }
    HttpMessage get(const QByteArray &target) const { return send(httpRequest("GET", target)); }
    // Its standard output since the last start, a line each.
    QStringList logLines()
    {
        m_output += m_process.readAllStandardOutput();
        return QString::fromUtf8(m_output).split(u'\n', Qt::SkipEmptyParts);
    }

    // The add-user command on the given storage options.
    static bool addUser(const QStringList &storage, const QByteArray &email, const QByteArray &password)
    {
        QProcess adding;
        adding.start(
            binary(), storage + QStringList { QStringLiteral("add-user"), QString::fromLatin1(email) });
        adding.write(password + '\n');
        adding.closeWriteChannel();
        return adding.waitForFinished(60000) && adding.exitCode() == 0;
    }

private:
    QTemporaryDir m_data;
    QProcess m_process;
    QByteArray m_output;
    quint16 m_port = 0;
};

// An upload of 16 kHz speech, `query` holding any further items.
inline QByteArray speechPost(const QByteArray &pcm, const QByteArray &query = {})
{
    return httpRequest("POST", "/api/speech?sampleRate=16000" + query, pcm);
}
inline QJsonObject transcriptJson(const QString &text)
{
    return { { "type", "transcript" }, { "text", text }, { "isFinal", true } };
}

// Speech to send it: flite's 16 kHz voice as raw s16le samples.
inline QByteArray spokenPcm(const QString &text)
{
    QTemporaryDir dir;
    QFile wav(dir.filePath(QStringLiteral("speech.wav")));
    const QStringList arguments { QStringLiteral("-voice"), QStringLiteral("kal16"), QStringLiteral("-t"),
        text, QStringLiteral("-o"), wav.fileName() };
    if (QProcess::execute(QStringLiteral("flite"), arguments) != 0 || !wav.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = wav.readAll();
    const qsizetype data = bytes.indexOf("data", 12);
    return data < 0 ? QByteArray() : bytes.mid(data + 8);
}
