#pragma once

#include "speech/TranscriptEvent.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

#include <qcoro/qcorotask.h>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

// What went wrong in an engine, told by what the manager does about it
// rather than by each engine's own codes.
enum class EngineErrorKind {
    noSpeech, // nothing heard yet: only a notice, the session listens on
    passing, // the user hears of it, the session goes on (an upload failed)
    unavailable, // the engine cannot serve the language now: another one starts instead
    failed, // the engine broke off mid-session: another one takes the capture over
};

struct EngineError {
    EngineErrorKind kind = EngineErrorKind::failed;
    QString message;
};

// One recording as an engine hears it, in one language: fed the capture
// service's 16 kHz mono s16le PCM, it reports what it heard. The manager
// drops an object's reports once it has moved on.
class EngineSession : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // Utterances are numbered from `firstUtterance`, so that the engines of
    // one recording never reuse an id. The error when it cannot start.
    virtual QCoro::Task<std::optional<EngineError>> start(quint64 recording, quint64 firstUtterance) = 0;
    // Safe on any thread: the capture service calls it on its own. Audio fed
    // before `start` is kept.
    virtual void feed(const QByteArray &pcm) = 0;
    // No audio follows; returns once the last words are reported (or given
    // up). Safe whether or not `start` ran or succeeded.
    virtual QCoro::Task<> finish() = 0;

Q_SIGNALS:
    void transcript(const TranscriptEvent &event);
    void error(const EngineError &error);
};

// A session object for `create`: its last owner may be the capture thread,
// so it is deleted on its own thread's event loop.
template <class Session, class... Arguments>
std::shared_ptr<EngineSession> makeEngineSession(Arguments &&...arguments)
{
    return std::shared_ptr<EngineSession>(
        new Session(std::forward<Arguments>(arguments)...), [](EngineSession *gone) { gone->deleteLater(); });
}

// A row of the engine registry.
struct SpeechEngine {
    QString id; // kept in the settings as the user's choice: never renamed
    bool remote = false; // the audio leaves this machine
    // The language codes it may serve ("en-US"), as far as it knows now.
    std::function<QStringList()> languages;
    // Whether a session in `language` can start now.
    std::function<bool(const QString &language)> available;
    std::function<std::shared_ptr<EngineSession>(const QString &language)> create;
};

// The engines the program may dictate with, in the order of preference: a
// session that cannot start, or breaks off, goes on with the next one
// available.
class EngineRegistry
{
public:
    void add(SpeechEngine engine) { m_engines.push_back(std::move(engine)); }
    const std::vector<SpeechEngine> &engines() const { return m_engines; }
    // -1 when none is called so.
    int indexOf(const QString &id) const
    {
        for (size_t i = 0; i < m_engines.size(); ++i) {
            if (m_engines[i].id == id)
                return int(i);
        }
        return -1;
    }

private:
    std::vector<SpeechEngine> m_engines;
};

Q_DECLARE_METATYPE(EngineError)
