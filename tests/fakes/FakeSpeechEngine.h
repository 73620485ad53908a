#pragma once

#include "common/NextSignal.h"
#include "speech/engines/SpeechEngine.h"

#include <QMap>
#include <QMutex>
#include <QTimer>

#include <vector>

// A session whose reports the test sends. It keeps the PCM it is fed (on the capture thread: read it once
// the capture has stopped) and notes any fed after its end, which a real engine would never hear.
struct FakeEngineSession : EngineSession {
    QString language;
    std::optional<EngineError> startError;
    bool started = false, finishing = false;
    bool holdFinish = false; // a finish returns once release() is called
    quint64 firstUtterance = 0;
    QMutex mutex;
    QByteArray pcm;
    bool ended = false, fedAfterEnd = false;

    QCoro::Task<std::optional<EngineError>> start(quint64, quint64 first) override
    {
        started = true;
        firstUtterance = first;
        co_return startError;
    }
    void feed(const QByteArray &chunk) override
    {
        QMutexLocker lock(&mutex);
        fedAfterEnd |= ended;
        pcm += chunk;
    }
    QCoro::Task<> finish() override
    {
        {
            QMutexLocker lock(&mutex);
            ended = true;
        }
        finishing = true;
        if (holdFinish)
            co_await nextSignal(&m_release, &QTimer::timeout);
    }

    void report(const QString &text, bool isFinal, quint64 utterance = 0)
    {
        emit transcript(TranscriptEvent { 0, firstUtterance + utterance, text, isFinal });
    }
    void partial(const QString &text) { report(text, false); }
    void final(const QString &text) { report(text, true); }
    void fail(EngineErrorKind kind, const QString &message = QStringLiteral("The engine said no"))
    {
        emit error(EngineError { kind, message });
    }
    void release()
    {
        holdFinish = false;
        m_release.start(0);
    }

private:
    QTimer m_release;
};

// An engine for the languages in `languages` (the value: whether available); it keeps every session.
struct FakeSpeechEngine {
    QMap<QString, bool> languages { { QStringLiteral("en-US"), true } };
    std::optional<EngineError> startError; // every session's
    std::vector<std::shared_ptr<FakeEngineSession>> sessions;

    FakeEngineSession &last() { return *sessions.back(); }

    SpeechEngine row()
    {
        return { QStringLiteral("On-device"), false, [this] { return languages.keys(); },
            [this](const QString &language) { return languages.value(language, false); },
            [this](const QString &language) {
                auto session = std::make_shared<FakeEngineSession>();
                session->language = language;
                session->startError = startError;
                sessions.push_back(session);
                return std::static_pointer_cast<EngineSession>(session);
            } };
    }
};
