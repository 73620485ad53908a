#pragma once

#include "speech/PocketSphinxModel.h"

#include <QString>

#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

struct ps_decoder_s;
using ps_decoder_t = struct ps_decoder_s;

// Loaded PocketSphinx decoders, one per model, shared by every session of the
// process. Loading a model takes a good part of a second, so it happens once,
// on a thread of its own, ahead of the first session that needs it; a session
// leases the decoder and gives it back when it ends.
class PocketSphinxDecoderPool : public std::enable_shared_from_this<PocketSphinxDecoderPool>
{
public:
    enum class State { unknown, loading, ready, failed };

    class Decoder;

    // A decoder held by one session; returned to the pool on destruction.
    class Lease
    {
    public:
        Lease(std::shared_ptr<PocketSphinxDecoderPool> pool, QString key, std::unique_ptr<Decoder> decoder);
        Lease(Lease &&) noexcept;
        Lease &operator=(Lease &&) = delete;
        ~Lease();

        ps_decoder_t *get() const;
        // Forgets what earlier sessions taught the decoder (the noise level and
        // the cepstral mean it adapted to), so that a session decodes exactly
        // as a freshly loaded decoder would.
        void startSession();

    private:
        std::shared_ptr<PocketSphinxDecoderPool> m_pool;
        QString m_key;
        std::unique_ptr<Decoder> m_decoder;
    };

    static std::shared_ptr<PocketSphinxDecoderPool> create();
    ~PocketSphinxDecoderPool();

    // Starts loading the model in the background unless it is loaded or loading.
    void preload(const PocketSphinxModel &model);
    State state(const PocketSphinxModel &model) const;
    QString loadError(const PocketSphinxModel &model) const;

    // For worker threads: waits until the model's decoder is free, loading it
    // first where needed. None when the model cannot be loaded, or when
    // `shouldStop` turned true while waiting.
    std::optional<Lease> acquire(const PocketSphinxModel &model, const std::function<bool()> &shouldStop);

    // Every model this pool ever loaded (for tests and diagnostics).
    int loadsStarted() const;

private:
    PocketSphinxDecoderPool() = default;

    struct Entry {
        State state = State::unknown;
        std::unique_ptr<Decoder> idle;
        bool leased = false;
        QString error;
    };

    void startLoading(const PocketSphinxModel &model); // with m_mutex held
    void giveBack(const QString &key, std::unique_ptr<Decoder> decoder);

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::map<QString, Entry> m_entries;
    std::vector<std::thread> m_loaders;
    int m_loadsStarted = 0;
};
