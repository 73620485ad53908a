#pragma once

#include <QString>

// Why the microphone capture could not start. `engineStartFailed` carries the
// sound server's own explanation, which is what the user needs to see then.
class AudioError
{
public:
    enum class Code {
        engineInitializationFailed,
        inputNodeNotAvailable,
        formatCreationFailed,
        recordingFailed,
        engineStartFailed,
    };

    AudioError(Code code, QString engineMessage = QString())
        : m_code(code)
        , m_engineMessage(std::move(engineMessage))
    {
    }

    static AudioError engineStart(const QString &message) { return { Code::engineStartFailed, message }; }

    Code code() const { return m_code; }
    QString errorDescription() const;

    friend bool operator==(const AudioError &, const AudioError &) = default;

private:
    Code m_code;
    QString m_engineMessage;
};
