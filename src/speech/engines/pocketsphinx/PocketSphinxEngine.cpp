#include "speech/engines/pocketsphinx/PocketSphinxEngine.h"

#include "common/Log.h"
#include "common/NextSignal.h"
#include "speech/SupportedLanguage.h"

#include <pocketsphinx.h>

#include <QCoreApplication>
#include <QPointer>
#include <QStringList>
#include <QtEndian>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

// Audio waiting for the decoder. The capture thread appends, the worker
// takes, the main thread ends or cancels.
struct PocketSphinxSession::Channel {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<QByteArray> chunks;
    qsizetype queuedBytes = 0;
    bool ended = false;
    bool cancelled = false;

    // The session is woken for a block's worth of audio at a time rather than
    // for every buffer: each wake costs the decoder its warm caches.
    static constexpr qsizetype blockBytes = PocketSphinxSession::samplesPerBlock * qsizetype(sizeof(qint16));

    void post(const auto &change)
    {
        {
            std::lock_guard lock(mutex);
            change();
        }
        wake.notify_all();
    }
};

// What the worker tells the session, on the worker's thread.
struct PocketSphinxSession::Report {
    enum What { result, noSpeech, failed, ended } what = result;
    int utterance = 0; // counts the utterances of this session
    QString text; // the utterance's words, or why it failed
    bool isFinal = false;
};

namespace
{

using Channel = PocketSphinxSession::Channel;
using Report = PocketSphinxSession::Report;
using Handler = std::function<void(Report)>;

// One session's decoding, run to its end on its own thread.
class Decoding
{
public:
    Decoding(std::shared_ptr<Channel> channel, std::optional<PocketSphinxModel> model,
        std::shared_ptr<PocketSphinxDecoderPool> pool, Handler handler)
        : m_channel(std::move(channel))
        , m_model(std::move(model))
        , m_pool(std::move(pool))
        , m_handler(std::move(handler))
    {
    }

    void run()
    {
        if (!m_model) {
            fail(QStringLiteral("No speech model is installed for this language"));
            return;
        }
        std::optional<PocketSphinxDecoderPool::Lease> lease
            = m_pool->acquire(*m_model, [this] { return stopRequested(); });
        if (!lease) {
            if (!stopRequested())
                fail(QStringLiteral("The speech model could not be loaded: %1")
                         .arg(m_pool->loadError(*m_model)));
            return;
        }
        m_ps = lease->get();
        lease->startSession();
        if (ps_start_utt(m_ps) < 0) {
            fail(QStringLiteral("The speech decoder did not start"));
            return;
        }
        decode();
        // Leaves the decoder between utterances for the next session.
        if (m_decoderInUtterance)
            ps_end_utt(m_ps);
    }

private:
    enum class Next { audio, end, stop };

    // A cancel before the audio ended: nothing more is wanted.
    bool stopRequested()
    {
        std::lock_guard lock(m_channel->mutex);
        return m_channel->cancelled && !m_channel->ended;
    }

    Next take(std::deque<QByteArray> &chunks)
    {
        std::unique_lock lock(m_channel->mutex);
        m_channel->wake.wait(lock, [this] {
            return m_channel->queuedBytes >= Channel::blockBytes || m_channel->ended || m_channel->cancelled;
        });
        if (m_channel->cancelled && !m_channel->ended)
            return Next::stop;
        if (!m_channel->chunks.empty()) {
            chunks.swap(m_channel->chunks);
            m_channel->queuedBytes = 0;
            return Next::audio;
        }
        return Next::end;
    }

    // False when the session ended in failure.
    bool decode()
    {
        std::deque<QByteArray> chunks;
        for (;;) {
            switch (take(chunks)) {
            case Next::stop:
                return true;
            case Next::end:
                return finish();
            case Next::audio:
                break;
            }
            for (const QByteArray &pcm : chunks) {
                if (!feed(pcm))
                    return false;
                if (stopRequested())
                    return true;
            }
            chunks.clear();
        }
    }

    // Hands 16 kHz samples to the decoder as they come; whether an utterance
    // ended is asked only at the end of each block, as the engine's reader
    // does, which is all that makes the result depend on the block size.
    bool feed(const QByteArray &pcm)
    {
        const qsizetype count = pcm.size() / qsizetype(sizeof(qint16));
        const auto *bytes = reinterpret_cast<const uchar *>(pcm.constData());
        m_heardSamples += count;
        qsizetype first = 0;
        // Exact zeros ahead of the first sound are a source that has not
        // started delivering yet. Starting the decoder's frames at the first
        // real sample makes a session decode a recording exactly as the
        // engine decodes the same recording read from a file.
        if (!m_heardSignal) {
            while (first < count && qFromLittleEndian<qint16>(bytes + first * 2) == 0)
                ++first;
            if (first < count)
                m_heardSignal = true;
        }
        m_samples.resize(size_t(count - first));
        for (qsizetype i = first; i < count; ++i)
            m_samples[size_t(i - first)] = qFromLittleEndian<qint16>(bytes + i * 2);

        const qint16 *next = m_samples.data();
        size_t left = m_samples.size();
        while (left > 0) {
            const size_t piece = std::min(left, size_t(PocketSphinxSession::samplesPerBlock) - m_blockFill);
            if (ps_process_raw(m_ps, next, piece, FALSE, FALSE) < 0) {
                fail(QStringLiteral("The speech decoder failed"));
                return false;
            }
            next += piece;
            left -= piece;
            m_blockFill += piece;
            if (m_blockFill == size_t(PocketSphinxSession::samplesPerBlock) && !endBlock())
                return false;
        }
        checkForSilence();
        return true;
    }

    bool endBlock()
    {
        m_blockFill = 0;
        const bool inSpeech = ps_get_in_speech(m_ps) != 0;
        if (inSpeech && !m_inUtterance) {
            m_inUtterance = true;
            m_heardSpeech = true;
        }
        if (!inSpeech && m_inUtterance)
            return endUtterance(true);
        if (m_inUtterance) {
            const char *hypothesis = ps_get_hyp(m_ps, nullptr);
            const QString text = transcript(hypothesis);
            if (hypothesis && *hypothesis && text != m_delivered) {
                m_delivered = text;
                m_handler({ Report::result, m_utterance, QString::fromUtf8(hypothesis), false });
            }
        }
        return true;
    }

    // Ends the decoder's utterance and delivers its final hypothesis; with
    // `next`, a new utterance begins at once.
    bool endUtterance(bool next)
    {
        if (ps_end_utt(m_ps) < 0) {
            m_decoderInUtterance = false;
            fail(QStringLiteral("The speech decoder failed"));
            return false;
        }
        m_decoderInUtterance = false;
        if (m_inUtterance) {
            const char *hypothesis = ps_get_hyp(m_ps, nullptr);
            const QString words = hypothesis ? QString::fromUtf8(hypothesis) : QString();
            if (!words.isEmpty())
                m_finals << words;
            const QString text = m_finals.join(u' ');
            // A final that says less than the partials must still replace them.
            if (!text.isEmpty() || !m_delivered.isEmpty()) {
                m_delivered = text;
                m_handler({ Report::result, m_utterance, words, true });
            }
            ++m_utterance;
        }
        m_inUtterance = false;
        if (next) {
            if (ps_start_utt(m_ps) < 0) {
                fail(QStringLiteral("The speech decoder did not start"));
                return false;
            }
            m_decoderInUtterance = true;
        }
        return true;
    }

    bool finish()
    {
        // The last, shorter block ends like any other.
        if (m_blockFill > 0 && !endBlock())
            return false;
        return endUtterance(false);
    }

    QString transcript(const char *hypothesis) const
    {
        if (!hypothesis || !*hypothesis)
            return m_finals.join(u' ');
        QStringList words = m_finals;
        words << QString::fromUtf8(hypothesis);
        return words.join(u' ');
    }

    void checkForSilence()
    {
        if (m_heardSpeech || m_reportedSilence
            || m_heardSamples
                < qint64(PocketSphinxSession::noSpeechSeconds) * PocketSphinxSession::sampleRate)
            return;
        m_reportedSilence = true;
        m_handler({ Report::noSpeech, 0, QStringLiteral("No speech detected"), false });
    }

    void fail(const QString &reason) { m_handler({ Report::failed, 0, reason, false }); }

    std::shared_ptr<Channel> m_channel;
    std::optional<PocketSphinxModel> m_model;
    std::shared_ptr<PocketSphinxDecoderPool> m_pool;
    Handler m_handler;

    ps_decoder_t *m_ps = nullptr;
    bool m_decoderInUtterance = true;
    std::vector<qint16> m_samples; // the current chunk, in host order
    size_t m_blockFill = 0; // samples of the current block the decoder has had
    qint64 m_heardSamples = 0;
    bool m_heardSignal = false;
    bool m_heardSpeech = false;
    bool m_reportedSilence = false;
    bool m_inUtterance = false;
    QStringList m_finals;
    int m_utterance = 0; // counts the utterances of this session
    QString m_delivered;
};

} // namespace

SpeechEngine pocketSphinxEngine(std::shared_ptr<PocketSphinxDecoderPool> pool)
{
    SpeechEngine engine;
    engine.id = QStringLiteral("On-device");
    engine.languages = [] {
        QStringList codes;
        for (const SupportedLanguage &language : SupportedLanguage::allCases()) {
            if (PocketSphinxModel::forLocale(language.rawValue()))
                codes << language.rawValue();
        }
        return codes;
    };
    engine.available = [pool](const QString &language) {
        const std::optional<PocketSphinxModel> model = PocketSphinxModel::forLocale(language);
        return model && pool->state(*model) != PocketSphinxDecoderPool::State::failed;
    };
    engine.create = [pool](const QString &language) {
        return makeEngineSession<PocketSphinxSession>(PocketSphinxModel::forLocale(language), pool);
    };
    return engine;
}

PocketSphinxSession::PocketSphinxSession(
    std::optional<PocketSphinxModel> model, std::shared_ptr<PocketSphinxDecoderPool> pool)
    : m_model(std::move(model))
    , m_pool(std::move(pool))
    , m_channel(std::make_shared<Channel>())
{
}

PocketSphinxSession::~PocketSphinxSession()
{
    cancel();
}

QCoro::Task<std::optional<EngineError>> PocketSphinxSession::start(quint64, quint64 firstUtterance)
{
    m_firstUtterance = firstUtterance;
    if (!m_model || !m_pool)
        co_return EngineError { EngineErrorKind::unavailable,
            QStringLiteral("No speech model is installed for this language") };
    qCInfo(lcApp).noquote() << QStringLiteral("✅ [On-device STT] Using on-device recognition");
    m_started = true;
    // The worker reports on its own thread; a report that arrives after this
    // object is gone belongs to nobody.
    QPointer<PocketSphinxSession> self(this);
    Handler handler = [self](Report report) {
        QCoreApplication *application = QCoreApplication::instance();
        if (!application)
            return;
        QMetaObject::invokeMethod(
            application,
            [self, report = std::move(report)] {
                if (self)
                    self->handle(report);
            },
            Qt::QueuedConnection);
    };
    std::thread([decoding = std::make_shared<Decoding>(m_channel, m_model, m_pool, handler), handler] {
        decoding->run();
        handler({ Report::ended, 0, QString(), false });
    }).detach();
    co_return std::nullopt;
}

void PocketSphinxSession::feed(const QByteArray &pcm)
{
    bool blockReady = false;
    {
        std::lock_guard lock(m_channel->mutex);
        if (m_channel->ended || pcm.isEmpty())
            return;
        m_channel->chunks.push_back(pcm);
        m_channel->queuedBytes += pcm.size();
        blockReady = m_channel->queuedBytes >= Channel::blockBytes;
    }
    if (blockReady)
        m_channel->wake.notify_all();
}

// Audio that was already ended is still recognized to its final result,
// which a finish relies on: it ends the audio and cancels at once, and the
// words of the last moments must not be lost. Anything else stops now.
void PocketSphinxSession::cancel()
{
    m_channel->post([this] { m_channel->cancelled = true; });
}

QCoro::Task<> PocketSphinxSession::finish()
{
    m_channel->post([this] { m_channel->ended = true; });
    cancel();
    if (!m_started || m_ended)
        co_return;
    // Without this wait a start right after the stop would drop the last
    // words of the recording that just ended.
    co_await nextSignal(this, &PocketSphinxSession::ended, finishTimeout);
}

void PocketSphinxSession::handle(const Report &report)
{
    switch (report.what) {
    case Report::result:
        qCDebug(lcSpeech).noquote() << QStringLiteral("📝 [On-device STT] %1: %2")
                                           .arg(report.isFinal ? QStringLiteral("Final")
                                                               : QStringLiteral("..."),
                                               report.text);
        emit transcript(TranscriptEvent {
            0, m_firstUtterance + quint64(std::max(0, report.utterance)), report.text, report.isFinal });
        break;
    case Report::noSpeech:
        qCInfo(lcApp).noquote() << QStringLiteral(
            "ℹ️ [On-device STT] No speech detected yet - waiting...");
        emit error(EngineError { EngineErrorKind::noSpeech, report.text });
        break;
    case Report::failed:
        qCWarning(lcApp).noquote()
            << QStringLiteral("❌ [On-device STT] Recognition failed (%1), falling back...").arg(report.text);
        emit error(EngineError { EngineErrorKind::failed, report.text });
        break;
    case Report::ended:
        m_ended = true;
        emit ended();
        break;
    }
}
