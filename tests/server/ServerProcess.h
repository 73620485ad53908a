#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

// A real tellwind-server from the build folder, on a free loopback port, with
// its own data folder; it is stopped when this goes away.
class ServerProcess
{
public:
    explicit ServerProcess(QStringList extraArguments = {}) : m_extra(std::move(extraArguments)) { }
    ~ServerProcess()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.terminate();
            if (!m_process.waitForFinished(5000))
                m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    static QString binary()
    {
        // Test executables sit beside it in the build folder.
        return qEnvironmentVariable("TELLWIND_BUILD_DIR", QCoreApplication::applicationDirPath())
            + QStringLiteral("/tellwind-server");
    }

    bool start()
    {
        if (!m_data.isValid())
            return false;
        QStringList arguments { QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0"), QStringLiteral("--data-dir"),
                                m_data.path() };
        arguments += m_extra;
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QObject::connect(&m_process, &QProcess::readyReadStandardOutput, &m_process,
                         [this] { m_output += m_process.readAllStandardOutput(); });
        m_process.start(binary(), arguments);
        static const QRegularExpression listening(QStringLiteral("listening on http://127\\.0\\.0\\.1:(\\d+)"));
        QRegularExpressionMatch match;
        (void)QTest::qWaitFor([&] {
            match = listening.match(QString::fromUtf8(m_output));
            return match.hasMatch() || m_process.state() == QProcess::NotRunning;
        }, 30000);
        if (!match.hasMatch())
            return false;
        m_port = match.captured(1).toUShort();
        return true;
    }

    bool isRunning() const { return m_process.state() == QProcess::Running; }
    quint16 port() const { return m_port; }
    QString baseUrl() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_port); }
    QStringList logLines() const { return QString::fromUtf8(m_output).split(u'\n', Qt::SkipEmptyParts); }

private:
    QStringList m_extra;
    QTemporaryDir m_data;
    QProcess m_process;
    QByteArray m_output;
    quint16 m_port = 0;
};

// Speech from flite's 16 kHz voice as raw PCM (the samples of the WAV's data chunk).
inline QByteArray synthesizedSpeech(const QString &text)
{
    QTemporaryDir dir;
    const QString wav = dir.filePath(QStringLiteral("speech.wav"));
    if (QProcess::execute(QStringLiteral("flite"), { QStringLiteral("-voice"), QStringLiteral("kal16"),
                                                     QStringLiteral("-t"), text, QStringLiteral("-o"), wav }) != 0)
        return {};
    QFile file(wav);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    qsizetype offset = 12;
    while (offset + 8 <= bytes.size()) {
        const QByteArray id = bytes.mid(offset, 4);
        const quint32 size = qFromLittleEndian<quint32>(bytes.constData() + offset + 4);
        if (id == "data")
            return bytes.mid(offset + 8, size);
        offset += 8 + size + (size & 1);
    }
    return {};
}
