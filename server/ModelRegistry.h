#pragma once

#include "speech/engines/pocketsphinx/SpeechDecoder.h"

#include <QMap>
#include <QString>
#include <QStringList>

#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

// The speech models the server knows, and the decoders made from them. A
// model loads when its language is first asked for; at most `maxLoaded`
// languages keep decoders, the least recently used giving theirs up first,
// but never while one of them is decoding. Thread-safe.
class ModelRegistry
{
public:
    using Log = std::function<void(const QString &line)>;

    // A decoder lent to one decode; it goes back to the registry when the
    // lease ends.
    class Lease
    {
    public:
        Lease() = default;
        Lease(Lease &&other) noexcept;
        Lease &operator=(Lease &&other) noexcept;
        ~Lease();

        explicit operator bool() const { return bool(m_decoder); }
        SpeechDecoder &decoder() const { return *m_decoder; }

    private:
        friend class ModelRegistry;
        void giveBack();

        ModelRegistry *m_registry = nullptr;
        QString m_language;
        std::unique_ptr<SpeechDecoder> m_decoder;
    };

    // `checker`: the program that loads a model in a process of its own
    // before this one trusts it (the engine ends the process on some damaged
    // files instead of failing). Packaged models are not checked.
    ModelRegistry(QMap<QString, PocketSphinxModel> models, int maxLoaded, QString checker, Log log = {});
    ~ModelRegistry();

    // Debian's en-US model and every complete model folder `folder`/<code>/.
    // Folders that hold no complete model are named in `incomplete`.
    static QMap<QString, PocketSphinxModel> discover(
        const QString &folder, QStringList *incomplete = nullptr);

    // A model for the language exists and is not known to be damaged.
    bool has(const QString &language) const;
    QStringList languages() const;
    // The languages holding decoders now.
    QStringList loaded() const;

    // Loads the model if needed, which can take seconds: never on the event
    // loop. An empty lease, with the reason in `error`, when the model cannot
    // be used.
    Lease acquire(const QString &language, QString *error);

private:
    enum class Check { unchecked, checking, good, damaged };
    struct Entry {
        PocketSphinxModel model;
        Check check = Check::unchecked;
        std::vector<std::unique_ptr<SpeechDecoder>> idle;
        int inUse = 0;
        quint64 lastUse = 0;
        bool loaded = false;
    };

    void giveBack(const QString &language, std::unique_ptr<SpeechDecoder> decoder);
    // Moves the decoders of the languages beyond the bound into `unloaded`,
    // to be freed once the lock is let go.
    void unloadBeyondBound(std::vector<std::unique_ptr<SpeechDecoder>> &unloaded);
    QString check(const PocketSphinxModel &model) const;
    void log(const QString &line) const;

    const int m_maxLoaded;
    const QString m_checker;
    const Log m_log;

    mutable std::mutex m_mutex;
    std::condition_variable m_checked;
    std::map<QString, Entry> m_entries;
    quint64 m_clock = 0;
};
