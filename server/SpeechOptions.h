#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <chrono>

class QCommandLineParser;

// How the server recognises speech: which local models it may load, and the
// OpenAI-compatible transcription service that takes every other language.
struct SpeechOptions {
    QString modelsDir; // empty: DATA_DIR/models
    int maxModels = 4;
    QUrl upstream; // empty: no upstream
    QString upstreamModel = QStringLiteral("whisper-1");
    // Read from a file or the environment, never from the command line (where
    // every user of the machine can see it).
    QByteArray upstreamKey;
    int upstreamConcurrency = 4;
    std::chrono::milliseconds upstreamTimeout { 30000 };

    static constexpr const char *keyVariable = "TELLWIND_UPSTREAM_KEY";

    static void addOptions(QCommandLineParser &parser);
    // False, with the reason, on a bad value or an unreadable key file.
    static bool read(const QCommandLineParser &parser, SpeechOptions *options, QString *error);
};
