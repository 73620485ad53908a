#pragma once

#include <QByteArray>
#include <QString>

#include <qcoro/qcorotask.h>

#include <functional>
#include <memory>
#include <optional>

// The speech recognizer of the platform, in the shape the recognition manager
// uses it: a recognizer per locale, a buffer request fed from the microphone,
// a running task reporting results and errors.

enum class SpeechRecognizerAuthorizationStatus {
    notDetermined = 0,
    denied = 1,
    restricted = 2,
    authorized = 3
};

// Errors carry a domain and a code, so that the manager can tell cancellation,
// a failed recognizer and "no speech yet" apart whatever the wording.
struct SpeechRecognitionError {
    QString domain;
    int code = 0;
    QString localizedDescription;
};

// The recognizer's domain and the codes its sessions report.
namespace SpeechRecognitionErrors
{
inline const QString assistantDomain = QStringLiteral("kAFAssistantErrorDomain");
constexpr int canceled = 216;
constexpr int canceledByClient = 1101;
constexpr int recognitionFailed = 1107;
constexpr int noSpeechDetected = 1110;
} // namespace SpeechRecognitionErrors

struct SpeechRecognitionResult {
    QString formattedString; // the best transcription of everything heard so far
    bool isFinal = false; // the utterance ended: its text will not change again
    // Which utterance of the task this result revises (counting from 0), and
    // that utterance's own text.
    int utterance = 0;
    QString utteranceText;
};

// Audio for one recognition task: 16 kHz mono signed 16-bit little-endian
// PCM, as the capture service delivers it. `append` may be called on the
// capture thread; everything else on the main thread.
class SpeechRecognitionRequest
{
public:
    virtual ~SpeechRecognitionRequest() = default;

    virtual void setShouldReportPartialResults(bool value) = 0;
    virtual bool shouldReportPartialResults() const = 0;
    virtual void append(const QByteArray &pcm) = 0;
    // No more audio follows; what was appended is still recognized.
    virtual void endAudio() = 0;
};

class SpeechRecognitionTask
{
public:
    virtual ~SpeechRecognitionTask() = default;
    virtual void cancel() = 0;
};

class SpeechRecognizer
{
public:
    // Called on any thread, with a result, an error or both.
    using ResultHandler
        = std::function<void(std::optional<SpeechRecognitionResult>, std::optional<SpeechRecognitionError>)>;

    virtual ~SpeechRecognizer() = default;

    virtual bool isAvailable() const = 0;
    virtual std::shared_ptr<SpeechRecognitionTask> recognitionTask(
        std::shared_ptr<SpeechRecognitionRequest> request, ResultHandler handler)
        = 0;
};

class SpeechRecognizerBackend
{
public:
    virtual ~SpeechRecognizerBackend() = default;

    // None when no recognizer exists for the locale ("en-US").
    virtual std::unique_ptr<SpeechRecognizer> makeRecognizer(const QString &localeIdentifier) = 0;
    // None when no request can be made.
    virtual std::shared_ptr<SpeechRecognitionRequest> makeRequest() = 0;
    virtual QCoro::Task<SpeechRecognizerAuthorizationStatus> requestAuthorization() = 0;
};
