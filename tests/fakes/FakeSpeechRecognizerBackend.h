#pragma once

#include "platform/SpeechRecognizerBackend.h"

#include <QMap>
#include <QStringList>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

class FakeSpeechRecognitionRequest : public SpeechRecognitionRequest
{
public:
    bool partialResults = false;
    bool onDevice = false;
    std::atomic<int> appendedBuffers { 0 };
    bool ended = false;

    void setShouldReportPartialResults(bool value) override { partialResults = value; }
    bool shouldReportPartialResults() const override { return partialResults; }
    void setRequiresOnDeviceRecognition(bool value) override { onDevice = value; }
    bool requiresOnDeviceRecognition() const override { return onDevice; }
    void append(const AudioBuffer &) override { ++appendedBuffers; }
    void endAudio() override { ended = true; }
};

// A task whose results the test sends. They are reported from a thread of
// their own, as a real recognizer does.
class FakeSpeechRecognitionTask : public SpeechRecognitionTask
{
public:
    QString locale;
    SpeechRecognizer::ResultHandler handler;
    std::shared_ptr<SpeechRecognitionRequest> request;
    bool cancelled = false;

    void cancel() override { cancelled = true; }

    void report(std::optional<SpeechRecognitionResult> result, std::optional<SpeechRecognitionError> error)
    {
        std::thread([this, result, error] { handler(result, error); }).join();
    }
    void partial(const QString &text) { report(SpeechRecognitionResult { text, false }, std::nullopt); }
    void final(const QString &text) { report(SpeechRecognitionResult { text, true }, std::nullopt); }
    void error(int code, const QString &description = QStringLiteral("The recognizer said no"),
               const QString &domain = SpeechRecognitionErrors::assistantDomain)
    {
        report(std::nullopt, SpeechRecognitionError { domain, code, description });
    }
};

// Recognizers exist for the locales in `locales` (the value says whether they
// are available); every recognizer, request and task made is recorded.
class FakeSpeechRecognizerBackend : public SpeechRecognizerBackend
{
public:
    QMap<QString, bool> locales { { QStringLiteral("en-US"), true } };
    bool supportsOnDevice = true;
    bool failRequests = false;
    SpeechRecognizerAuthorizationStatus authorization = SpeechRecognizerAuthorizationStatus::authorized;

    QStringList recognizersMade;
    int authorizationRequests = 0;
    std::vector<std::shared_ptr<FakeSpeechRecognitionRequest>> requests;
    std::vector<std::shared_ptr<FakeSpeechRecognitionTask>> tasks;

    FakeSpeechRecognitionTask &lastTask() { return *tasks.back(); }
    FakeSpeechRecognitionRequest &lastRequest() { return *requests.back(); }

    class Recognizer : public SpeechRecognizer
    {
    public:
        Recognizer(FakeSpeechRecognizerBackend &backend, QString locale) : m_backend(backend), m_locale(std::move(locale)) { }

        bool isAvailable() const override { return m_backend.locales.value(m_locale, false); }
        bool supportsOnDeviceRecognition() const override { return m_backend.supportsOnDevice; }
        void setDefaultTaskHint(SpeechRecognitionTaskHint hint) override { taskHint = hint; }
        std::shared_ptr<SpeechRecognitionTask> recognitionTask(std::shared_ptr<SpeechRecognitionRequest> request,
                                                               ResultHandler handler) override
        {
            auto task = std::make_shared<FakeSpeechRecognitionTask>();
            task->locale = m_locale;
            task->handler = std::move(handler);
            task->request = std::move(request);
            m_backend.tasks.push_back(task);
            return task;
        }

        SpeechRecognitionTaskHint taskHint = SpeechRecognitionTaskHint::unspecified;

    private:
        FakeSpeechRecognizerBackend &m_backend;
        QString m_locale;
    };

    std::unique_ptr<SpeechRecognizer> makeRecognizer(const QString &locale) override
    {
        recognizersMade << locale;
        if (!locales.contains(locale))
            return nullptr;
        return std::make_unique<Recognizer>(*this, locale);
    }

    std::shared_ptr<SpeechRecognitionRequest> makeRequest() override
    {
        if (failRequests)
            return nullptr;
        requests.push_back(std::make_shared<FakeSpeechRecognitionRequest>());
        return requests.back();
    }

    QCoro::Task<SpeechRecognizerAuthorizationStatus> requestAuthorization() override
    {
        ++authorizationRequests;
        co_return authorization;
    }
};
