#pragma once

#include "platform/SpeechRecognizerBackend.h"

#include <QMap>
#include <QMutex>

#include <thread>
#include <vector>

// Keeps the PCM it is fed (on the capture thread) and notes any that comes
// after its end, which the recognizer would never hear.
struct FakeSpeechRecognitionRequest : SpeechRecognitionRequest {
    bool partialResults = false;
    mutable QMutex mutex;
    QByteArray pcm;
    bool ended = false, fedAfterEnd = false;

    void setShouldReportPartialResults(bool value) override { partialResults = value; }
    bool shouldReportPartialResults() const override { return partialResults; }
    void append(const QByteArray &chunk) override
    {
        QMutexLocker lock(&mutex);
        fedAfterEnd |= ended;
        pcm += chunk;
    }
    void endAudio() override
    {
        QMutexLocker lock(&mutex);
        ended = true;
    }
    qsizetype bytes() const
    {
        QMutexLocker lock(&mutex);
        return pcm.size();
    }
};

// A task whose results the test sends, from a thread of their own as a real
// recognizer does. Results are of utterance 0 unless told otherwise.
struct FakeSpeechRecognitionTask : SpeechRecognitionTask {
    QString locale;
    SpeechRecognizer::ResultHandler handler;
    bool cancelled = false;
    bool reportsCancel = true; // false: the test says when the task ends

    void cancel() override
    {
        cancelled = true;
        if (reportsCancel)
            error(SpeechRecognitionErrors::canceled, QStringLiteral("Canceled"));
    }
    void report(std::optional<SpeechRecognitionResult> result, std::optional<SpeechRecognitionError> error)
    {
        std::thread([this, result, error] { handler(result, error); }).join();
    }
    void partial(const QString &text) { report(SpeechRecognitionResult { text, false, 0, text }, {}); }
    void final(const QString &text) { report(SpeechRecognitionResult { text, true, 0, text }, {}); }
    void error(int code, const QString &description = QStringLiteral("The recognizer said no"),
        const QString &domain = SpeechRecognitionErrors::assistantDomain)
    {
        report(std::nullopt, SpeechRecognitionError { domain, code, description });
    }
};

// Recognizers exist for the locales in `locales` (the value says whether they
// are available); every request and task made is recorded.
struct FakeSpeechRecognizerBackend : SpeechRecognizerBackend {
    QMap<QString, bool> locales { { QStringLiteral("en-US"), true } };
    SpeechRecognizerAuthorizationStatus authorization = SpeechRecognizerAuthorizationStatus::authorized;
    bool refuseRequests = false;

    std::vector<std::shared_ptr<FakeSpeechRecognitionRequest>> requests;
    std::vector<std::shared_ptr<FakeSpeechRecognitionTask>> tasks;

    FakeSpeechRecognitionTask &lastTask() { return *tasks.back(); }

    struct Recognizer : SpeechRecognizer {
        FakeSpeechRecognizerBackend &backend;
        QString locale;

        Recognizer(FakeSpeechRecognizerBackend &owner, QString code)
            : backend(owner)
            , locale(std::move(code))
        {
        }
        bool isAvailable() const override { return backend.locales.value(locale, false); }
        std::shared_ptr<SpeechRecognitionTask> recognitionTask(
            std::shared_ptr<SpeechRecognitionRequest>, ResultHandler handler) override
        {
            auto task = backend.tasks.emplace_back(std::make_shared<FakeSpeechRecognitionTask>());
            task->locale = locale;
            task->handler = std::move(handler);
            return task;
        }
    };

    std::unique_ptr<SpeechRecognizer> makeRecognizer(const QString &locale) override
    {
        return locales.contains(locale) ? std::make_unique<Recognizer>(*this, locale) : nullptr;
    }
    std::shared_ptr<SpeechRecognitionRequest> makeRequest() override
    {
        if (refuseRequests)
            return nullptr;
        return requests.emplace_back(std::make_shared<FakeSpeechRecognitionRequest>());
    }
    QCoro::Task<SpeechRecognizerAuthorizationStatus> requestAuthorization() override
    {
        co_return authorization;
    }
};
