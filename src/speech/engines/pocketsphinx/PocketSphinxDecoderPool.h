#pragma once

#include "speech/engines/pocketsphinx/PocketSphinxModel.h"

#include <QString>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

struct ps_decoder_s;
using ps_decoder_t = struct ps_decoder_s;

// Loaded PocketSphinx decoders, one per model, shared by every session of the
// process. A model is loaded when a session first needs it (its audio waits
// meanwhile, a fifth of a second for US English) on the pool's own thread,
// and let go again once no session has used it for `keepIdle`: a dictation
// tool sits idle most of the day, and a loaded model holds about 90 MB.
// A session leases the decoder and gives it back when it ends.
class PocketSphinxDecoderPool : public std::enable_shared_from_this<PocketSphinxDecoderPool>
{
public:
    // `unknown`: not loaded (never, or let go since); `ready`: loaded.
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

    static constexpr std::chrono::milliseconds defaultKeepIdle = std::chrono::minutes(5);

    static std::shared_ptr<PocketSphinxDecoderPool> create(
        std::chrono::milliseconds keepIdle = defaultKeepIdle);
    ~PocketSphinxDecoderPool();

    // Starts loading the model in the background unless it is loaded or loading.
    void preload(const PocketSphinxModel &model);
    State state(const PocketSphinxModel &model) const;
    QString loadError(const PocketSphinxModel &model) const;

    // For worker threads: waits until the model's decoder is free, loading it
    // first where needed. None when the model cannot be loaded, or when
    // `shouldStop` turned true while waiting.
    std::optional<Lease> acquire(const PocketSphinxModel &model, const std::function<bool()> &shouldStop);

    // How many times a model was loaded (for tests and diagnostics).
    int loadsStarted() const;

private:
    explicit PocketSphinxDecoderPool(std::chrono::milliseconds keepIdle);

    struct Entry {
        std::optional<PocketSphinxModel> model;
        bool failed = false;
        bool loading = false;
        std::unique_ptr<Decoder> idle;
        bool leased = false;
        std::chrono::steady_clock::time_point idleSince;
        QString error;
    };

    void requestLoad(const PocketSphinxModel &model, Entry &entry); // with m_mutex held
    void giveBack(const QString &key, std::unique_ptr<Decoder> decoder);
    // The pool's thread: loads what sessions wait for, lets go of what they no
    // longer use.
    void work();

    const std::chrono::milliseconds m_keepIdle;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::map<QString, Entry> m_entries;
    bool m_closing = false;
    int m_loadsStarted = 0;
    std::thread m_worker;
};
