#pragma once

#include "platform/SpeechRecognizerBackend.h"

#include <QMap>
#include <QStringList>

#include <atomic>
#include <thread>
#include <vector>

struct FakeSpeechRecognitionRequest : SpeechRecognitionRequest {
    bool partialResults = false, onDevice = false, ended = false;
    std::atomic<int> appendedBuffers { 0 };

    void setShouldReportPartialResults(bool value) override { partialResults = value; }
    bool shouldReportPartialResults() const override { return partialResults; }
    void setRequiresOnDeviceRecognition(bool value) override { onDevice = value; }
    bool requiresOnDeviceRecognition() const override { return onDevice; }
    void append(const AudioBuffer &) override { ++appendedBuffers; }
    void endAudio() override { ended = true; }
};

// A task whose results the test sends, from a thread of their own as a real
// recognizer does.
struct FakeSpeechRecognitionTask : SpeechRecognitionTask {
    QString locale;
    SpeechRecognizer::ResultHandler handler;
    bool cancelled = false;

    void cancel() override { cancelled = true; }

    void report(std::optional<SpeechRecognitionResult> result, std::optional<SpeechRecognitionError> error)
    {
        std::thread([this, result, error] { handler(result, error); }).join();
    }
    // One utterance, as a short dictation gives.
    void partial(const QString &text)
    {
        report(SpeechRecognitionResult { text, false, 0, text }, std::nullopt);
    }
    void final(const QString &text) { report(SpeechRecognitionResult { text, true, 0, text }, std::nullopt); }
    void error(int code, const QString &description = QStringLiteral("The recognizer said no"),
        const QString &domain = SpeechRecognitionErrors::assistantDomain)
    {
        report(std::nullopt, SpeechRecognitionError { domain, code, description });
    }
};

// Recognizers exist for the locales in `locales` (the value says whether they
// are available); every recognizer, request and task made is recorded.
struct FakeSpeechRecognizerBackend : SpeechRecognizerBackend {
    QMap<QString, bool> locales { { QStringLiteral("en-US"), true } };
    SpeechRecognizerAuthorizationStatus authorization = SpeechRecognizerAuthorizationStatus::authorized;

    QStringList recognizersMade;
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
        bool supportsOnDeviceRecognition() const override { return true; }
        void setDefaultTaskHint(SpeechRecognitionTaskHint) override { }
        std::shared_ptr<SpeechRecognitionTask> recognitionTask(
            std::shared_ptr<SpeechRecognitionRequest>, ResultHandler handler) override
        {
            auto task = std::make_shared<FakeSpeechRecognitionTask>();
            task->locale = locale;
            task->handler = std::move(handler);
            backend.tasks.push_back(task);
            return task;
        }
    };

    std::unique_ptr<SpeechRecognizer> makeRecognizer(const QString &locale) override
    {
        recognizersMade << locale;
        return locales.contains(locale) ? std::make_unique<Recognizer>(*this, locale) : nullptr;
    }

    std::shared_ptr<SpeechRecognitionRequest> makeRequest() override
    {
        return requests.emplace_back(std::make_shared<FakeSpeechRecognitionRequest>());
    }

    QCoro::Task<SpeechRecognizerAuthorizationStatus> requestAuthorization() override
    {
        co_return authorization;
    }
};
