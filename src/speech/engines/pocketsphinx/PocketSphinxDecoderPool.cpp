#include "speech/engines/pocketsphinx/PocketSphinxDecoderPool.h"

#include "common/Log.h"
#include "speech/engines/pocketsphinx/PocketSphinxDecoderConfig.h"

#include <sphinxbase/cmn.h>
#include <sphinxbase/err.h>
#include <sphinxbase/feat.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <ranges>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

namespace
{

struct ModelPaths {
    QByteArray acoustic;
    QByteArray language;
    QByteArray dictionary;
};

// Next to the running program in a build tree; in the libexec folder of the
// prefix it was installed to otherwise.
QByteArray modelProbePath()
{
    const QDir programDir(QCoreApplication::applicationDirPath());
    const QString beside = programDir.filePath(QStringLiteral("tellwind-model-probe"));
    if (QFileInfo(beside).isExecutable())
        return QFile::encodeName(beside);
    return QFile::encodeName(
        QDir::cleanPath(programDir.filePath(QStringLiteral(TELLWIND_MODEL_PROBE_FROM_BIN))));
}

// The library ends the whole process (exit) on many a damaged model file
// instead of returning an error. A model from the user's own folder is
// therefore loaded once by a separate program first; only if that succeeds is
// it loaded here. (A forked copy of this process would not do: another
// thread may hold a lock at the fork that the copy then waits on forever.)
// Returns why the model cannot be used, or nothing when it loads.
std::optional<QString> refusalFromSeparateProcess(const ModelPaths &paths, const QString &acousticModel)
{
    const QString damaged = QStringLiteral("the model in %1 is damaged or incomplete").arg(acousticModel);
    constexpr auto patience = std::chrono::seconds(30);
    QByteArray probe = modelProbePath();
    QByteArray acoustic = paths.acoustic, language = paths.language, dictionary = paths.dictionary;
    char *argv[] = { probe.data(), acoustic.data(), language.data(), dictionary.data(), nullptr };

    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&quiet, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t child = 0;
    const int spawned = posix_spawn(&child, probe.constData(), &quiet, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&quiet);
    if (spawned != 0)
        return QStringLiteral("the model checker %1 could not be started").arg(QFile::decodeName(probe));

    // A probe that hangs must not hold the loader (and the pool's shutdown)
    // forever.
    const auto deadline = std::chrono::steady_clock::now() + patience;
    int status = 0;
    for (;;) {
        const pid_t done = waitpid(child, &status, WNOHANG);
        if (done == child) {
            if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
                return std::nullopt;
            return damaged;
        }
        if (done < 0 && errno != EINTR)
            return damaged;
        if (std::chrono::steady_clock::now() >= deadline) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            return damaged;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

} // namespace

class PocketSphinxDecoderPool::Decoder
{
public:
    // Loads the model: slow, never on the main thread.
    static std::unique_ptr<Decoder> load(const PocketSphinxModel &model, QString *error)
    {
        // The library writes its progress to standard error, line after line,
        // unless told otherwise; our log is standard output and stays ours.
        err_set_logfp(nullptr);
        const ModelPaths paths { model.acousticModel.toLocal8Bit(), model.languageModel.toLocal8Bit(),
            model.dictionary.toLocal8Bit() };
        if (!model.packaged) {
            if (const std::optional<QString> refusal
                = refusalFromSeparateProcess(paths, model.acousticModel)) {
                *error = *refusal;
                return nullptr;
            }
        }
        ps_decoder_t *ps = makePocketSphinxDecoder(
            paths.acoustic.constData(), paths.language.constData(), paths.dictionary.constData());
        if (!ps) {
            *error = QStringLiteral("the model in %1 could not be loaded").arg(model.acousticModel);
            return nullptr;
        }
        auto decoder = std::unique_ptr<Decoder>(new Decoder(ps));
        const cmn_t *cmn = ps_get_feat(ps)->cmn_struct;
        decoder->m_initialMean.assign(cmn->cmn_mean, cmn->cmn_mean + cmn->veclen);
        return decoder;
    }

    ~Decoder() { ps_free(m_ps); }

    ps_decoder_t *get() const { return m_ps; }

    void startSession()
    {
        ps_start_stream(m_ps);
        // A fresh decoder starts from the model's initial mean with nothing
        // accumulated; restoring exactly that (rather than setting a mean,
        // which also pretends it was observed over a long window) keeps the
        // first utterance's adaptation identical.
        cmn_t *cmn = ps_get_feat(m_ps)->cmn_struct;
        for (int32 i = 0; i < cmn->veclen && size_t(i) < m_initialMean.size(); ++i) {
            cmn->cmn_mean[i] = m_initialMean[size_t(i)];
            cmn->sum[i] = 0;
        }
        cmn->nframe = 0;
    }

private:
    explicit Decoder(ps_decoder_t *ps)
        : m_ps(ps)
    {
    }

    ps_decoder_t *m_ps;
    std::vector<mfcc_t> m_initialMean;
};

PocketSphinxDecoderPool::Lease::Lease(
    std::shared_ptr<PocketSphinxDecoderPool> pool, QString key, std::unique_ptr<Decoder> decoder)
    : m_pool(std::move(pool))
    , m_key(std::move(key))
    , m_decoder(std::move(decoder))
{
}

PocketSphinxDecoderPool::Lease::Lease(Lease &&other) noexcept = default;

PocketSphinxDecoderPool::Lease::~Lease()
{
    if (m_pool && m_decoder)
        m_pool->giveBack(m_key, std::move(m_decoder));
}

ps_decoder_t *PocketSphinxDecoderPool::Lease::get() const
{
    return m_decoder->get();
}

void PocketSphinxDecoderPool::Lease::startSession()
{
    m_decoder->startSession();
}

std::shared_ptr<PocketSphinxDecoderPool> PocketSphinxDecoderPool::create(std::chrono::milliseconds keepIdle)
{
    auto pool = std::shared_ptr<PocketSphinxDecoderPool>(new PocketSphinxDecoderPool(keepIdle));
    // The thread holds no reference, so the pool is never destroyed on it.
    pool->m_worker = std::thread([raw = pool.get()] { raw->work(); });
    return pool;
}

PocketSphinxDecoderPool::PocketSphinxDecoderPool(std::chrono::milliseconds keepIdle)
    : m_keepIdle(keepIdle)
{
}

PocketSphinxDecoderPool::~PocketSphinxDecoderPool()
{
    {
        std::lock_guard lock(m_mutex);
        m_closing = true;
    }
    m_changed.notify_all();
    if (m_worker.joinable())
        m_worker.join();
}

void PocketSphinxDecoderPool::preload(const PocketSphinxModel &model)
{
    std::lock_guard lock(m_mutex);
    requestLoad(model, m_entries[model.key()]);
}

void PocketSphinxDecoderPool::requestLoad(const PocketSphinxModel &model, Entry &entry)
{
    if (entry.failed || entry.loading || entry.idle || entry.leased)
        return;
    entry.model = model;
    entry.loading = true;
    ++m_loadsStarted;
    m_changed.notify_all();
}

void PocketSphinxDecoderPool::work()
{
    std::unique_lock lock(m_mutex);
    while (!m_closing) {
        // A model a session waits for comes first.
        const auto wanted = std::find_if(
            m_entries.begin(), m_entries.end(), [](const auto &keyed) { return keyed.second.loading; });
        if (wanted != m_entries.end()) {
            const QString key = wanted->first;
            const PocketSphinxModel model = *wanted->second.model;
            lock.unlock();
            const auto started = std::chrono::steady_clock::now();
            QString error;
            std::unique_ptr<Decoder> decoder = Decoder::load(model, &error);
            const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::steady_clock::now() - started);
            if (decoder) {
                qCInfo(lcApp).noquote()
                    << QStringLiteral("✅ [On-device STT] PocketSphinx model loaded in %1 ms: %2")
                           .arg(took.count())
                           .arg(model.acousticModel);
            } else {
                qCWarning(lcApp).noquote()
                    << QStringLiteral("❌ [On-device STT] PocketSphinx model failed to load: %1").arg(error);
            }
            lock.lock();
            Entry &entry = m_entries[key];
            entry.loading = false;
            if (decoder) {
                entry.idle = std::move(decoder);
                entry.idleSince = std::chrono::steady_clock::now();
            } else {
                entry.failed = true;
                entry.error = error;
            }
            m_changed.notify_all();
            continue;
        }

        const auto now = std::chrono::steady_clock::now();
        std::optional<std::chrono::steady_clock::time_point> nextDue;
        std::vector<std::pair<QString, std::unique_ptr<Decoder>>> unused; // by acoustic model
        for (Entry &entry : m_entries | std::views::values) {
            if (!entry.idle)
                continue;
            const auto due = entry.idleSince + m_keepIdle;
            if (due <= now)
                unused.emplace_back(entry.model->acousticModel, std::move(entry.idle));
            else
                nextDue = nextDue ? std::min(*nextDue, due) : due;
        }
        if (!unused.empty()) {
            lock.unlock();
            for (auto &[acousticModel, decoder] : unused) {
                decoder.reset();
                qCInfo(lcApp).noquote()
                    << QStringLiteral("💤 [On-device STT] PocketSphinx model unloaded after %1 s unused: %2")
                           .arg(m_keepIdle.count() / 1000.0)
                           .arg(acousticModel);
            }
            // Sessions may have asked for models meanwhile: look again.
            lock.lock();
            continue;
        }
        if (nextDue)
            m_changed.wait_until(lock, *nextDue);
        else
            m_changed.wait(lock);
    }
}

PocketSphinxDecoderPool::State PocketSphinxDecoderPool::state(const PocketSphinxModel &model) const
{
    std::lock_guard lock(m_mutex);
    const auto found = m_entries.find(model.key());
    if (found == m_entries.end())
        return State::unknown;
    const Entry &entry = found->second;
    if (entry.failed)
        return State::failed;
    if (entry.loading)
        return State::loading;
    return entry.idle || entry.leased ? State::ready : State::unknown;
}

QString PocketSphinxDecoderPool::loadError(const PocketSphinxModel &model) const
{
    std::lock_guard lock(m_mutex);
    const auto found = m_entries.find(model.key());
    return found == m_entries.end() ? QString() : found->second.error;
}

int PocketSphinxDecoderPool::loadsStarted() const
{
    std::lock_guard lock(m_mutex);
    return m_loadsStarted;
}

std::optional<PocketSphinxDecoderPool::Lease> PocketSphinxDecoderPool::acquire(
    const PocketSphinxModel &model, const std::function<bool()> &shouldStop)
{
    // Waiting in short steps lets a cancelled session give up without the
    // canceller having to know where the session is waiting.
    constexpr auto step = std::chrono::milliseconds(10);
    const QString key = model.key();
    std::unique_lock lock(m_mutex);
    Entry &entry = m_entries[key];
    for (;;) {
        if (entry.failed)
            return std::nullopt;
        if (entry.idle && !entry.leased) {
            entry.leased = true;
            return Lease(shared_from_this(), key, std::move(entry.idle));
        }
        requestLoad(model, entry);
        if (shouldStop && shouldStop())
            return std::nullopt;
        m_changed.wait_for(lock, step);
    }
}

void PocketSphinxDecoderPool::giveBack(const QString &key, std::unique_ptr<Decoder> decoder)
{
    std::lock_guard lock(m_mutex);
    Entry &entry = m_entries[key];
    entry.idle = std::move(decoder);
    entry.idleSince = std::chrono::steady_clock::now();
    entry.leased = false;
    m_changed.notify_all();
}
