#include "speech/PocketSphinxRecognizer.h"

#include <pocketsphinx.h>

#include <QStringList>
#include <QtEndian>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

struct PocketSphinxRecognitionRequest::Channel {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<QByteArray> chunks;
    qsizetype queuedBytes = 0;
    bool ended = false;
    bool cancelled = false;
    bool taken = false; // a task decodes this request
    std::atomic<bool> partialResults { true };

    // The session is woken for a block's worth of audio at a time rather than
    // for every buffer: each wake costs the decoder its warm caches.
    static constexpr qsizetype blockBytes
        = PocketSphinxRecognizer::samplesPerBlock * qsizetype(sizeof(qint16));

    void post(const auto &change)
    {
        {
            std::lock_guard lock(mutex);
            change();
        }
        wake.notify_all();
    }
};

PocketSphinxRecognitionRequest::PocketSphinxRecognitionRequest()
    : m_channel(std::make_shared<Channel>())
{
}

PocketSphinxRecognitionRequest::~PocketSphinxRecognitionRequest() = default;

void PocketSphinxRecognitionRequest::setShouldReportPartialResults(bool value)
{
    m_channel->partialResults = value;
}

bool PocketSphinxRecognitionRequest::shouldReportPartialResults() const
{
    return m_channel->partialResults;
}

void PocketSphinxRecognitionRequest::append(const QByteArray &pcm)
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

void PocketSphinxRecognitionRequest::endAudio()
{
    m_channel->post([&] { m_channel->ended = true; });
}

namespace
{

using Channel = PocketSphinxRecognitionRequest::Channel;

SpeechRecognitionError assistantError(int code, const QString &description)
{
    return { SpeechRecognitionErrors::assistantDomain, code, description };
}

class RecognitionTask : public SpeechRecognitionTask
{
public:
    explicit RecognitionTask(std::shared_ptr<Channel> channel)
        : m_channel(std::move(channel))
    {
    }

    // Audio that was already ended is still recognized to its final result,
    // which a stop relies on: it ends the audio and cancels at once, and the
    // words of the last moments must not be lost. Anything else stops now.
    void cancel() override
    {
        m_channel->post([&] { m_channel->cancelled = true; });
    }

private:
    std::shared_ptr<Channel> m_channel;
};

// One recognition task, run to its end on its own thread.
class Session
{
public:
    Session(std::shared_ptr<Channel> channel, std::optional<PocketSphinxModel> model,
        std::shared_ptr<PocketSphinxDecoderPool> pool, SpeechRecognizer::ResultHandler handler)
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
            if (stopRequested())
                reportCanceled();
            else
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
        const bool ok = decode();
        // Leaves the decoder between utterances for the next session.
        if (m_decoderInUtterance)
            ps_end_utt(m_ps);
        if (!ok)
            return;
        if (isCancelled())
            reportCanceled();
    }

private:
    enum class Next { audio, end, stop };

    bool isCancelled()
    {
        std::lock_guard lock(m_channel->mutex);
        return m_channel->cancelled;
    }

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
            const size_t piece
                = std::min(left, size_t(PocketSphinxRecognizer::samplesPerBlock) - m_blockFill);
            if (ps_process_raw(m_ps, next, piece, FALSE, FALSE) < 0) {
                fail(QStringLiteral("The speech decoder failed"));
                return false;
            }
            next += piece;
            left -= piece;
            m_blockFill += piece;
            if (m_blockFill == size_t(PocketSphinxRecognizer::samplesPerBlock) && !endBlock())
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
        if (m_inUtterance && m_channel->partialResults) {
            const char *hypothesis = ps_get_hyp(m_ps, nullptr);
            const QString text = transcript(hypothesis);
            if (hypothesis && *hypothesis && text != m_delivered) {
                m_delivered = text;
                m_handler(SpeechRecognitionResult { text, false, m_utterance, QString::fromUtf8(hypothesis) },
                    std::nullopt);
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
                m_handler(SpeechRecognitionResult { text, true, m_utterance, words }, std::nullopt);
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
                < qint64(PocketSphinxRecognizer::noSpeechSeconds) * PocketSphinxRecognizer::sampleRate)
            return;
        m_reportedSilence = true;
        m_handler(std::nullopt,
            assistantError(SpeechRecognitionErrors::noSpeechDetected, QStringLiteral("No speech detected")));
    }

    void fail(const QString &reason)
    {
        m_handler(std::nullopt, assistantError(SpeechRecognitionErrors::recognitionFailed, reason));
    }

    void reportCanceled()
    {
        m_handler(std::nullopt,
            assistantError(
                SpeechRecognitionErrors::canceled, QStringLiteral("Recognition request was canceled")));
    }

    std::shared_ptr<Channel> m_channel;
    std::optional<PocketSphinxModel> m_model;
    std::shared_ptr<PocketSphinxDecoderPool> m_pool;
    SpeechRecognizer::ResultHandler m_handler;

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

PocketSphinxRecognizer::PocketSphinxRecognizer(
    std::optional<PocketSphinxModel> model, std::shared_ptr<PocketSphinxDecoderPool> pool)
    : m_model(std::move(model))
    , m_pool(std::move(pool))
{
}

bool PocketSphinxRecognizer::isAvailable() const
{
    return m_model && m_pool && m_pool->state(*m_model) != PocketSphinxDecoderPool::State::failed;
}

std::shared_ptr<SpeechRecognitionTask> PocketSphinxRecognizer::recognitionTask(
    std::shared_ptr<SpeechRecognitionRequest> request, ResultHandler handler)
{
    auto ours = std::dynamic_pointer_cast<PocketSphinxRecognitionRequest>(request);
    std::shared_ptr<Channel> channel = ours ? ours->channel() : std::make_shared<Channel>();
    bool alreadyTaken = false;
    {
        std::lock_guard lock(channel->mutex);
        alreadyTaken = channel->taken;
        channel->taken = true;
    }
    auto task = std::make_shared<RecognitionTask>(channel);
    if (!ours || alreadyTaken || !m_pool) {
        handler(std::nullopt,
            assistantError(SpeechRecognitionErrors::recognitionFailed,
                QStringLiteral("The recognition request cannot be used")));
        return task;
    }
    std::thread([session = std::make_shared<Session>(channel, m_model, m_pool, std::move(handler))] {
        session->run();
    }).detach();
    return task;
}
