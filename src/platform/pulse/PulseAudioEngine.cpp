#include "platform/pulse/PulseAudioEngine.h"

#include "common/Log.h"
#include "common/Settings.h"

#include <pulse/pulseaudio.h>

#include <QCoreApplication>
#include <QMutex>

#include <sys/time.h>

#include <chrono>
#include <cstring>
#include <vector>

namespace
{

// A local sound server answers in milliseconds; these only guard against a
// wedged or unreachable one, which must not freeze the start of a dictation.
constexpr std::chrono::milliseconds connectTimeout { 3000 };
constexpr std::chrono::milliseconds streamTimeout { 3000 };

// Small fragments keep the latency low; the engine gathers them into the
// buffer size the tap asked for.
constexpr quint32 fragmentFrames = 1024;

// A sound server that restarts (a crash, a desktop update, PipeWire being
// restarted by the user) is usually back well within this; a capture that
// finds it again carries on, anything longer ends it.
constexpr std::chrono::milliseconds reconnectWindow { 2000 };
constexpr std::chrono::milliseconds reconnectInterval { 250 };

QString tr(const char *text)
{
    return QCoreApplication::translate("PulseAudioEngine", text);
}

} // namespace

struct PulseAudioEngine::Private {
    pa_threaded_mainloop *loop = nullptr;
    pa_context *context = nullptr;
    pa_stream *stream = nullptr;

    bool probed = false;
    bool hasSource = false;
    QString sourceName;
    AudioFormat format;

    // By name; empty for the server's default.
    QString preferredSource;

    // Guarded by the main loop lock: the tap runs on the loop's thread.
    Tap tap;
    quint32 bufferFrames = 4096;
    std::vector<float> pending;
    bool running = false;
    pa_sample_spec streamSpec {};

    // A running capture whose stream or server went away, while it is being
    // looked for again; also under the loop lock.
    InterruptionHandler interruptionHandler;
    bool lost = false;
    bool ended = false;
    QString lossReason;
    std::chrono::steady_clock::time_point lostAt;
    pa_time_event *retryTimer = nullptr;

    ~Private() { shutDown(); }

    // Waits with the loop locked until `done()` holds or the time is up.
    template <typename Done> bool waitFor(Done done, std::chrono::milliseconds timeout)
    {
        struct Alarm {
            pa_threaded_mainloop *loop = nullptr;
            bool rang = false;
        } alarm;
        alarm.loop = loop;
        pa_mainloop_api *api = pa_threaded_mainloop_get_api(loop);
        timeval when;
        pa_gettimeofday(&when);
        pa_timeval_add(&when, pa_usec_t(std::chrono::microseconds(timeout).count()));
        pa_time_event *event = api->time_new(
            api, &when,
            [](pa_mainloop_api *, pa_time_event *, const timeval *, void *userdata) {
                auto *alarm = static_cast<Alarm *>(userdata);
                alarm->rang = true;
                pa_threaded_mainloop_signal(alarm->loop, 0);
            },
            &alarm);
        bool ok = done();
        while (!ok && !alarm.rang) {
            pa_threaded_mainloop_wait(loop);
            ok = done();
        }
        api->time_free(event);
        return ok;
    }

    template <typename Done>
    bool waitForOperation(pa_operation *operation, Done done, std::chrono::milliseconds timeout)
    {
        if (!operation)
            return false;
        const bool ok = waitFor(done, timeout);
        if (!ok)
            pa_operation_cancel(operation);
        pa_operation_unref(operation);
        return ok;
    }

    QString contextError() const
    {
        return QString::fromUtf8(pa_strerror(context ? pa_context_errno(context) : PA_ERR_UNKNOWN));
    }

    void probe()
    {
        if (probed)
            return;
        probed = true;

        loop = pa_threaded_mainloop_new();
        if (!loop) {
            qCWarning(lcApp).noquote()
                << QStringLiteral("❌ [Audio] PulseAudio: could not create its main loop");
            return;
        }
        pa_proplist *properties = pa_proplist_new();
        pa_proplist_sets(properties, PA_PROP_APPLICATION_NAME, "Tellwind");
        pa_proplist_sets(properties, PA_PROP_APPLICATION_ID, "tellwind");
        pa_proplist_sets(properties, PA_PROP_MEDIA_ROLE, "production");
        context = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(loop), "Tellwind", properties);
        pa_proplist_free(properties);
        if (!context) {
            qCWarning(lcApp).noquote() << QStringLiteral("❌ [Audio] PulseAudio: could not create a context");
            return;
        }
        pa_context_set_state_callback(context, &Private::contextStateChanged, this);
        if (pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
            qCWarning(lcApp).noquote()
                << QStringLiteral("❌ [Audio] PulseAudio: cannot reach the sound server: %1")
                       .arg(contextError());
            return;
        }
        if (pa_threaded_mainloop_start(loop) < 0) {
            qCWarning(lcApp).noquote()
                << QStringLiteral("❌ [Audio] PulseAudio: could not start its main loop");
            return;
        }

        pa_threaded_mainloop_lock(loop);
        const bool ready = waitFor(
            [this] {
                const pa_context_state_t state = pa_context_get_state(context);
                return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
            },
            connectTimeout);
        if (!ready || pa_context_get_state(context) != PA_CONTEXT_READY) {
            const QString reason = ready ? contextError() : QStringLiteral("no answer");
            pa_threaded_mainloop_unlock(loop);
            qCWarning(lcApp).noquote()
                << QStringLiteral("❌ [Audio] PulseAudio: cannot reach the sound server: %1").arg(reason);
            return;
        }

        struct Query {
            Private *self = nullptr;
            bool done = false;
            QString name;
            AudioFormat format;
            bool found = false;
        } query;
        query.self = this;

        const auto lookUp = [this, &query](const QString &name) {
            query.done = false;
            query.found = false;
            query.name = name;
            const QByteArray utf8 = name.toUtf8();
            pa_operation *sourceInfo = pa_context_get_source_info_by_name(
                context, utf8.constData(),
                [](pa_context *, const pa_source_info *info, int eol, void *userdata) {
                    auto *query = static_cast<Query *>(userdata);
                    if (info && eol == 0) {
                        query->format.sampleRate = info->sample_spec.rate;
                        query->format.channelCount = info->sample_spec.channels;
                        query->found = true;
                        return;
                    }
                    query->done = true;
                    pa_threaded_mainloop_signal(query->self->loop, 0);
                },
                &query);
            return waitForOperation(
                       sourceInfo, [&query] { return query.done; }, connectTimeout)
                && query.found;
        };

        // The microphone the user chose, while it is plugged in; else whatever
        // the desktop's sound settings make the default.
        if (!preferredSource.isEmpty()) {
            if (lookUp(preferredSource)) {
                pa_threaded_mainloop_unlock(loop);
                hasSource = true;
                sourceName = query.name;
                format = query.format;
                return;
            }
            qCWarning(lcApp).noquote() << QStringLiteral(
                "⚠️ [Audio] The chosen microphone '%1' is not connected, using the default")
                                              .arg(preferredSource);
        }

        query.done = false;
        query.name.clear();
        pa_operation *serverInfo = pa_context_get_server_info(
            context,
            [](pa_context *, const pa_server_info *info, void *userdata) {
                auto *query = static_cast<Query *>(userdata);
                if (info && info->default_source_name)
                    query->name = QString::fromUtf8(info->default_source_name);
                query->done = true;
                pa_threaded_mainloop_signal(query->self->loop, 0);
            },
            &query);
        if (!waitForOperation(
                serverInfo, [&query] { return query.done; }, connectTimeout)
            || query.name.isEmpty()) {
            pa_threaded_mainloop_unlock(loop);
            qCWarning(lcApp).noquote()
                << QStringLiteral("❌ [Audio] PulseAudio: there is no default input source");
            return;
        }

        const bool answered = lookUp(query.name);
        pa_threaded_mainloop_unlock(loop);
        if (!answered) {
            qCWarning(lcApp).noquote()
                << QStringLiteral("❌ [Audio] PulseAudio: the default input source '%1' is not available")
                       .arg(query.name);
            return;
        }
        hasSource = true;
        sourceName = query.name;
        format = query.format;
    }

    static void contextStateChanged(pa_context *changed, void *userdata)
    {
        auto *self = static_cast<Private *>(userdata);
        pa_threaded_mainloop_signal(self->loop, 0);
        if (changed != self->context || !self->running)
            return;
        const pa_context_state_t state = pa_context_get_state(changed);
        if (!PA_CONTEXT_IS_GOOD(state)) {
            self->lose(tr("The connection to the sound server was lost (%1).")
                           .arg(QString::fromUtf8(pa_strerror(pa_context_errno(changed)))));
        } else if (state == PA_CONTEXT_READY && self->lost && !self->stream) {
            self->openStream();
        }
    }

    static void streamStateChanged(pa_stream *changed, void *userdata)
    {
        auto *self = static_cast<Private *>(userdata);
        pa_threaded_mainloop_signal(self->loop, 0);
        if (changed != self->stream || !self->running)
            return;
        const pa_stream_state_t state = pa_stream_get_state(changed);
        if (state == PA_STREAM_READY && self->lost) {
            self->lost = false;
            self->freeRetryTimer();
            qCInfo(lcApp).noquote()
                << QStringLiteral("✅ [Audio] The microphone '%1' is back").arg(self->sourceName);
            self->report(Interruption::resumed, QString());
        } else if (!PA_STREAM_IS_GOOD(state)) {
            // A dying connection takes its streams with it: say what really went.
            if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(self->context)))
                contextStateChanged(self->context, self);
            else
                self->lose(
                    tr("The microphone '%1' stopped (%2).").arg(self->sourceName, self->contextError()));
        }
    }

    void report(Interruption what, const QString &reason)
    {
        if (interruptionHandler)
            interruptionHandler(what, reason);
    }

    // The stream or the whole connection died under a running capture. Runs
    // inside libpulse's callbacks, so the dead objects are only let go of on
    // the next retry, outside them.
    void lose(const QString &reason)
    {
        if (lost || ended)
            return;
        lost = true;
        lossReason = reason;
        lostAt = std::chrono::steady_clock::now();
        qCWarning(lcApp).noquote() << QStringLiteral("❌ [Audio] %1").arg(reason);
        // The frames short of a whole buffer were spoken too.
        if (tap && format.channelCount > 0 && !pending.empty())
            emitBuffer(pending.data(), quint32(pending.size() / format.channelCount));
        pending.clear();
        report(Interruption::lost, reason);
        scheduleRetry();
    }

    void scheduleRetry()
    {
        pa_mainloop_api *api = pa_threaded_mainloop_get_api(loop);
        timeval when;
        pa_gettimeofday(&when);
        pa_timeval_add(&when, pa_usec_t(std::chrono::microseconds(reconnectInterval).count()));
        if (retryTimer) {
            api->time_restart(retryTimer, &when);
            return;
        }
        retryTimer = api->time_new(
            api, &when,
            [](pa_mainloop_api *, pa_time_event *, const timeval *, void *userdata) {
                static_cast<Private *>(userdata)->retry();
            },
            this);
    }

    void freeRetryTimer()
    {
        if (!retryTimer)
            return;
        pa_threaded_mainloop_get_api(loop)->time_free(retryTimer);
        retryTimer = nullptr;
    }

    void retry()
    {
        if (!lost || ended || !running)
            return;
        if (stream && !PA_STREAM_IS_GOOD(pa_stream_get_state(stream)))
            closeStream();
        if (std::chrono::steady_clock::now() - lostAt >= reconnectWindow) {
            ended = true;
            closeStream();
            freeRetryTimer();
            qCWarning(lcApp).noquote()
                << QStringLiteral("❌ [Audio] The microphone did not come back, capture ended");
            report(Interruption::ended, lossReason);
            return;
        }
        if (!context || !PA_CONTEXT_IS_GOOD(pa_context_get_state(context))) {
            // A new server: a new connection; it opens the stream once ready.
            if (context) {
                pa_context_set_state_callback(context, nullptr, nullptr);
                pa_context_disconnect(context);
                pa_context_unref(context);
            }
            context = pa_context_new(pa_threaded_mainloop_get_api(loop), "Tellwind");
            if (context) {
                pa_context_set_state_callback(context, &Private::contextStateChanged, this);
                pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr);
            }
        } else if (pa_context_get_state(context) == PA_CONTEXT_READY && !stream) {
            openStream();
        }
        scheduleRetry();
    }

    // Creates the recording stream and asks the server to connect it; the
    // state callback tells how that went.
    bool openStream()
    {
        stream = pa_stream_new(context, "Dictation", &streamSpec, nullptr);
        if (!stream)
            return false;
        pa_stream_set_state_callback(stream, &Private::streamStateChanged, this);
        pa_stream_set_read_callback(
            stream,
            [](pa_stream *, size_t, void *userdata) { static_cast<Private *>(userdata)->drainStream(); },
            this);
        pa_buffer_attr attributes;
        std::memset(&attributes, 0xff, sizeof(attributes)); // (uint32_t)-1: the server's default
        attributes.fragsize = quint32(fragmentFrames * pa_frame_size(&streamSpec));
        const QByteArray source = sourceName.toUtf8();
        return pa_stream_connect_record(
                   stream, source.constData(), &attributes, pa_stream_flags_t(PA_STREAM_ADJUST_LATENCY))
            == 0;
    }

    // Called on the loop's thread with the lock held.
    void deliver(const float *samples, size_t count)
    {
        if (!tap || format.channelCount == 0)
            return;
        pending.insert(pending.end(), samples, samples + count);
        const size_t bufferSamples = size_t(bufferFrames) * format.channelCount;
        size_t offset = 0;
        while (pending.size() - offset >= bufferSamples) {
            emitBuffer(pending.data() + offset, bufferFrames);
            offset += bufferSamples;
        }
        pending.erase(pending.begin(), pending.begin() + qsizetype(offset));
    }

    void emitBuffer(const float *samples, quint32 frames)
    {
        AudioBuffer buffer;
        buffer.format = format;
        buffer.frameLength = frames;
        buffer.samples = QByteArray(reinterpret_cast<const char *>(samples),
            qsizetype(size_t(frames) * format.channelCount * sizeof(float)));
        tap(buffer);
    }

    // Everything the server has handed over so far, read without waiting.
    void drainStream()
    {
        while (stream && pa_stream_readable_size(stream) > 0) {
            const void *data = nullptr;
            size_t bytes = 0;
            if (pa_stream_peek(stream, &data, &bytes) < 0 || bytes == 0)
                break;
            if (data) {
                deliver(static_cast<const float *>(data), bytes / sizeof(float));
            } else {
                // A hole: the server lost this stretch. Silence keeps the timing.
                std::vector<float> silence(bytes / sizeof(float), 0.0f);
                deliver(silence.data(), silence.size());
            }
            pa_stream_drop(stream);
        }
    }

    void closeStream()
    {
        if (!stream)
            return;
        pa_stream_set_read_callback(stream, nullptr, nullptr);
        pa_stream_set_state_callback(stream, nullptr, nullptr);
        pa_stream_disconnect(stream);
        pa_stream_unref(stream);
        stream = nullptr;
    }

    void shutDown()
    {
        if (loop) {
            pa_threaded_mainloop_lock(loop);
            freeRetryTimer();
            closeStream();
            if (context) {
                pa_context_set_state_callback(context, nullptr, nullptr);
                pa_context_disconnect(context);
            }
            pa_threaded_mainloop_unlock(loop);
            pa_threaded_mainloop_stop(loop);
        }
        if (context)
            pa_context_unref(context);
        if (loop)
            pa_threaded_mainloop_free(loop);
        context = nullptr;
        loop = nullptr;
    }
};

PulseAudioEngine::PulseAudioEngine(const QString &preferredSource)
    : d(std::make_unique<Private>())
{
    d->preferredSource = preferredSource;
}

PulseAudioEngine::~PulseAudioEngine()
{
    stop();
}

AudioEngineFactory PulseAudioEngine::factory()
{
    return []() -> std::unique_ptr<AudioEngine> {
        return std::make_unique<PulseAudioEngine>(Settings::stringValue(microphoneKey).value_or(QString()));
    };
}

bool PulseAudioEngine::hasInputNode() const
{
    d->probe();
    return d->hasSource;
}

AudioFormat PulseAudioEngine::inputFormat() const
{
    d->probe();
    return d->format;
}

QString PulseAudioEngine::sourceName() const
{
    d->probe();
    return d->sourceName;
}

QList<QPair<QString, QString>> PulseAudioEngine::inputSources()
{
    PulseAudioEngine engine;
    Private &d = *engine.d;
    d.probe();
    if (!d.loop || !d.context || pa_context_get_state(d.context) != PA_CONTEXT_READY)
        return {};
    struct Listing {
        Private *self = nullptr;
        bool done = false;
        QList<QPair<QString, QString>> sources;
    } listing;
    listing.self = &d;
    pa_threaded_mainloop_lock(d.loop);
    pa_operation *operation = pa_context_get_source_info_list(
        d.context,
        [](pa_context *, const pa_source_info *info, int eol, void *userdata) {
            auto *listing = static_cast<Listing *>(userdata);
            if (info && eol == 0) {
                if (info->monitor_of_sink == PA_INVALID_INDEX)
                    listing->sources.append({ QString::fromUtf8(info->name),
                        QString::fromUtf8(info->description ? info->description : info->name) });
                return;
            }
            listing->done = true;
            pa_threaded_mainloop_signal(listing->self->loop, 0);
        },
        &listing);
    const bool answered = d.waitForOperation(
        operation, [&listing] { return listing.done; }, connectTimeout);
    pa_threaded_mainloop_unlock(d.loop);
    return answered ? listing.sources : QList<QPair<QString, QString>>();
}

void PulseAudioEngine::installTap(quint32 bufferFrames, Tap tap)
{
    d->probe();
    if (d->loop)
        pa_threaded_mainloop_lock(d->loop);
    d->bufferFrames = std::max<quint32>(bufferFrames, 1);
    d->tap = std::move(tap);
    d->pending.clear();
    if (d->loop)
        pa_threaded_mainloop_unlock(d->loop);
}

void PulseAudioEngine::removeTap()
{
    if (d->loop)
        pa_threaded_mainloop_lock(d->loop);
    d->tap = nullptr;
    d->pending.clear();
    if (d->loop)
        pa_threaded_mainloop_unlock(d->loop);
}

std::optional<QString> PulseAudioEngine::start()
{
    d->probe();
    if (!d->hasSource)
        return QStringLiteral("No microphone is available");
    if (d->running)
        return std::nullopt;

    pa_sample_spec sampleSpec;
    sampleSpec.format = PA_SAMPLE_FLOAT32NE;
    sampleSpec.rate = quint32(d->format.sampleRate);
    sampleSpec.channels = quint8(d->format.channelCount);
    if (!pa_sample_spec_valid(&sampleSpec))
        return QStringLiteral("The microphone '%1' has an unusable format").arg(d->sourceName);

    pa_threaded_mainloop_lock(d->loop);
    d->streamSpec = sampleSpec;
    const bool connected = d->openStream();
    const bool settled = connected
        && d->waitFor(
            [this] {
                const pa_stream_state_t state = pa_stream_get_state(d->stream);
                return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
            },
            streamTimeout);
    if (!settled || pa_stream_get_state(d->stream) != PA_STREAM_READY) {
        const QString reason = settled || !connected ? d->contextError() : QStringLiteral("no answer");
        d->closeStream();
        pa_threaded_mainloop_unlock(d->loop);
        return QStringLiteral("Could not open the microphone '%1': %2").arg(d->sourceName, reason);
    }
    d->lost = false;
    d->ended = false;
    d->running = true;
    pa_threaded_mainloop_unlock(d->loop);
    return std::nullopt;
}

void PulseAudioEngine::stop()
{
    if (!d->loop || !d->running)
        return;
    pa_threaded_mainloop_lock(d->loop);
    d->drainStream();
    // The frames short of a whole buffer are audio too.
    if (d->tap && d->format.channelCount > 0 && !d->pending.empty())
        d->emitBuffer(d->pending.data(), quint32(d->pending.size() / d->format.channelCount));
    d->pending.clear();
    d->freeRetryTimer();
    d->closeStream();
    d->running = false;
    d->lost = false;
    pa_threaded_mainloop_unlock(d->loop);
}

void PulseAudioEngine::setInterruptionHandler(InterruptionHandler handler)
{
    d->probe();
    if (d->loop)
        pa_threaded_mainloop_lock(d->loop);
    d->interruptionHandler = std::move(handler);
    if (d->loop)
        pa_threaded_mainloop_unlock(d->loop);
}
