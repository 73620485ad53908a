#include "SpeechOptions.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include <QCommandLineParser>
#include <QFile>

namespace
{

const QString modelsName = QStringLiteral("models");
const QString maxModelsName = QStringLiteral("max-models");
const QString upstreamName = QStringLiteral("upstream");
const QString upstreamModelName = QStringLiteral("upstream-model");
const QString keyFileName = QStringLiteral("upstream-key-file");
const QString concurrencyName = QStringLiteral("upstream-concurrency");
const QString timeoutName = QStringLiteral("upstream-timeout");

bool readCount(
    const QCommandLineParser &parser, const QString &name, int low, int high, int *into, QString *error)
{
    if (!parser.isSet(name))
        return true;
    bool ok = false;
    const int value = parser.value(name).toInt(&ok);
    if (!ok || value < low || value > high) {
        *error = QStringLiteral("--%1 wants a number from %2 to %3").arg(name).arg(low).arg(high);
        return false;
    }
    *into = value;
    return true;
}

} // namespace

void SpeechOptions::addOptions(QCommandLineParser &parser)
{
    parser.addOptions({
        { modelsName,
            QStringLiteral(
                "Folder of speech models, one sub-folder per language code (default DATA_DIR/models)."),
            QStringLiteral("DIR") },
        { maxModelsName, QStringLiteral("Most speech models kept loaded at once (default 4)."),
            QStringLiteral("N") },
        { upstreamName,
            QStringLiteral("OpenAI-compatible transcription service for languages without a local model, "
                           "for example http://127.0.0.1:8080/v1."),
            QStringLiteral("BASE_URL") },
        { upstreamModelName, QStringLiteral("Model name sent to the upstream (default whisper-1)."),
            QStringLiteral("NAME") },
        { keyFileName,
            QStringLiteral("File holding the upstream's API key (else the environment variable %1).")
                .arg(QLatin1String(keyVariable)),
            QStringLiteral("FILE") },
        { concurrencyName, QStringLiteral("Most upstream requests at once (default 4)."),
            QStringLiteral("N") },
        { timeoutName, QStringLiteral("Seconds to wait for an upstream answer (default 30)."),
            QStringLiteral("SECONDS") },
    });
}

bool SpeechOptions::read(const QCommandLineParser &parser, SpeechOptions *options, QString *error)
{
    QString reason;
    if (!error)
        error = &reason;
    if (parser.isSet(modelsName))
        options->modelsDir = parser.value(modelsName);
    if (!readCount(parser, maxModelsName, 1, 1000, &options->maxModels, error)
        || !readCount(parser, concurrencyName, 1, 256, &options->upstreamConcurrency, error)) {
        return false;
    }
    if (parser.isSet(upstreamName)) {
        const QUrl url(parser.value(upstreamName), QUrl::StrictMode);
        if (!url.isValid() || url.host().isEmpty()
            || (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https"))) {
            *error = QStringLiteral(
                "--upstream wants an http or https address, for example http://127.0.0.1:8080/v1");
            return false;
        }
        options->upstream = url;
    }
    if (parser.isSet(upstreamModelName)) {
        options->upstreamModel = parser.value(upstreamModelName).trimmed();
        if (options->upstreamModel.isEmpty()) {
            *error = QStringLiteral("--upstream-model wants a name");
            return false;
        }
    }
    if (parser.isSet(timeoutName)) {
        bool ok = false;
        const double seconds = parser.value(timeoutName).toDouble(&ok);
        if (!ok || !(seconds > 0) || seconds > 3600) {
            *error = QStringLiteral("--upstream-timeout wants a number of seconds");
            return false;
        }
        options->upstreamTimeout = std::chrono::milliseconds(qint64(seconds * 1000));
    }

    if (parser.isSet(keyFileName)) {
        QFile file(parser.value(keyFileName));
        if (!file.open(QIODevice::ReadOnly)) {
            *error = QStringLiteral("cannot read the upstream key file %1: %2")
                         .arg(file.fileName(), file.errorString());
            return false;
        }
        options->upstreamKey = file.readLine(64 * 1024).trimmed();
    } else {
        options->upstreamKey = qgetenv(keyVariable).trimmed();
    }
    // The model checker and anything else this server starts need no key.
    // Unsetting alone leaves the bytes where the kernel shows them to anyone
    // who may read /proc/PID/environ; they are overwritten where they lie.
    if (char *value = std::getenv(keyVariable))
        std::fill(value, value + std::strlen(value), '\0');
    qunsetenv(keyVariable);
    // A key that would break the header line is refused rather than sent.
    for (const char c : std::as_const(options->upstreamKey)) {
        if (uchar(c) < 0x20 || uchar(c) == 0x7f) {
            *error = QStringLiteral("the upstream key holds control characters");
            return false;
        }
    }
    return true;
}
