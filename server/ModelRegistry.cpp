#include "ModelRegistry.h"

#include "speech/engines/pocketsphinx/PocketSphinxModel.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>

namespace
{

// Loading a large model in the checker takes a few seconds; one that takes
// far longer is treated as broken rather than holding a decoder thread.
constexpr int checkerPatienceMs = 60000;

} // namespace

ModelRegistry::Lease::Lease(Lease &&other) noexcept
    : m_registry(std::exchange(other.m_registry, nullptr))
    , m_language(std::move(other.m_language))
    , m_decoder(std::move(other.m_decoder))
{
}

ModelRegistry::Lease &ModelRegistry::Lease::operator=(Lease &&other) noexcept
{
    if (this != &other) {
        giveBack();
        m_registry = std::exchange(other.m_registry, nullptr);
        m_language = std::move(other.m_language);
        m_decoder = std::move(other.m_decoder);
    }
    return *this;
}

ModelRegistry::Lease::~Lease()
{
    giveBack();
}

void ModelRegistry::Lease::giveBack()
{
    if (m_registry && m_decoder)
        m_registry->giveBack(m_language, std::move(m_decoder));
    m_registry = nullptr;
}

ModelRegistry::ModelRegistry(QMap<QString, PocketSphinxModel> models, int maxLoaded, QString checker, Log log)
    : m_maxLoaded(std::max(maxLoaded, 1))
    , m_checker(std::move(checker))
    , m_log(std::move(log))
{
    for (auto it = models.cbegin(); it != models.cend(); ++it)
        m_entries[it.key()].model = it.value();
}

ModelRegistry::~ModelRegistry() = default;

QMap<QString, PocketSphinxModel> ModelRegistry::discover(const QString &folder, QStringList *incomplete)
{
    // The folder name is a language code that later becomes part of a path.
    static const QRegularExpression plainTag(QStringLiteral("^[A-Za-z]{2,3}(-[A-Za-z0-9]{2,8})*$"));
    QMap<QString, PocketSphinxModel> models;
    const QDir dir(folder);
    if (!folder.isEmpty() && dir.exists()) {
        for (const QString &code : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
            const auto model = plainTag.match(code).hasMatch()
                ? PocketSphinxModel::inFolder(dir.filePath(code))
                : std::nullopt;
            if (model)
                models.insert(code, *model);
            else if (incomplete)
                incomplete->append(dir.filePath(code));
        }
    }
    if (!models.contains(QStringLiteral("en-US")))
        models.insert(QStringLiteral("en-US"), PocketSphinxModel::debianUsEnglishLocation());
    return models;
}

bool ModelRegistry::has(const QString &language) const
{
    std::lock_guard lock(m_mutex);
    const auto found = m_entries.find(language);
    return found != m_entries.end() && found->second.check != Check::damaged;
}

QStringList ModelRegistry::languages() const
{
    std::lock_guard lock(m_mutex);
    QStringList codes;
    for (const auto &[code, entry] : m_entries) {
        if (entry.check != Check::damaged)
            codes << code;
    }
    return codes;
}

QStringList ModelRegistry::loaded() const
{
    std::lock_guard lock(m_mutex);
    QStringList codes;
    for (const auto &[code, entry] : m_entries) {
        if (entry.loaded)
            codes << code;
    }
    return codes;
}

ModelRegistry::Lease ModelRegistry::acquire(const QString &language, QString *error)
{
    std::unique_lock lock(m_mutex);
    const auto found = m_entries.find(language);
    if (found == m_entries.end()) {
        *error = QStringLiteral("Language not supported: %1").arg(language.left(64));
        return {};
    }
    Entry &entry = found->second;
    // One check per model, however many uploads ask for it at once.
    m_checked.wait(lock, [&entry] { return entry.check != Check::checking; });
    if (entry.check == Check::damaged) {
        *error = QStringLiteral("The speech model for %1 is damaged").arg(language);
        return {};
    }
    entry.lastUse = ++m_clock;
    ++entry.inUse;

    Lease lease;
    lease.m_registry = this;
    lease.m_language = language;
    if (!entry.idle.empty()) {
        lease.m_decoder = std::move(entry.idle.back());
        entry.idle.pop_back();
        return lease;
    }

    const bool checking = !entry.model.packaged && entry.check == Check::unchecked;
    if (checking)
        entry.check = Check::checking;
    const PocketSphinxModel model = entry.model;
    lock.unlock();

    QElapsedTimer clock;
    clock.start();
    QString why = checking ? check(model) : QString();
    std::unique_ptr<SpeechDecoder> decoder;
    if (why.isEmpty())
        decoder = SpeechDecoder::create(model, &why);

    std::vector<std::unique_ptr<SpeechDecoder>> unloaded;
    lock.lock();
    if (checking) {
        entry.check = decoder ? Check::good : Check::damaged;
        m_checked.notify_all();
    }
    if (!decoder) {
        entry.check = Check::damaged;
        --entry.inUse;
        lease.m_registry = nullptr;
        log(QStringLiteral("speech model %1 cannot be used: %2").arg(language, why));
        *error = QStringLiteral("The speech model for %1 is damaged").arg(language);
        return {};
    }
    if (!entry.loaded) {
        entry.loaded = true;
        log(QStringLiteral("speech model %1 loaded in %2 ms").arg(language).arg(clock.elapsed()));
    }
    lease.m_decoder = std::move(decoder);
    unloadBeyondBound(unloaded);
    lock.unlock();
    return lease;
}

void ModelRegistry::giveBack(const QString &language, std::unique_ptr<SpeechDecoder> decoder)
{
    std::vector<std::unique_ptr<SpeechDecoder>> unloaded;
    std::lock_guard lock(m_mutex);
    Entry &entry = m_entries[language];
    entry.idle.push_back(std::move(decoder));
    --entry.inUse;
    entry.lastUse = ++m_clock;
    unloadBeyondBound(unloaded);
}

void ModelRegistry::unloadBeyondBound(std::vector<std::unique_ptr<SpeechDecoder>> &unloaded)
{
    int loaded = 0;
    for (const auto &[code, entry] : m_entries)
        loaded += entry.loaded ? 1 : 0;
    while (loaded > m_maxLoaded) {
        // A language that is decoding counts as the most recently used: it
        // waits until its decodes are over.
        Entry *oldest = nullptr;
        const QString *oldestCode = nullptr;
        for (auto &[code, entry] : m_entries) {
            if (entry.loaded && entry.inUse == 0 && (!oldest || entry.lastUse < oldest->lastUse)) {
                oldest = &entry;
                oldestCode = &code;
            }
        }
        if (!oldest)
            return;
        for (auto &decoder : oldest->idle)
            unloaded.push_back(std::move(decoder));
        oldest->idle.clear();
        oldest->loaded = false;
        --loaded;
        log(QStringLiteral("speech model %1 unloaded (least recently used)").arg(*oldestCode));
    }
}

QString ModelRegistry::check(const PocketSphinxModel &model) const
{
    const QString damaged
        = QStringLiteral("the model in %1 is damaged or incomplete").arg(model.acousticModel);
    QProcess checker;
    checker.setProgram(m_checker);
    checker.setArguments({ model.acousticModel, model.languageModel, model.dictionary });
    checker.setStandardOutputFile(QProcess::nullDevice());
    checker.setStandardErrorFile(QProcess::nullDevice());
    checker.start();
    if (!checker.waitForStarted())
        return QStringLiteral("the model checker %1 could not be started").arg(m_checker);
    if (!checker.waitForFinished(checkerPatienceMs)) {
        checker.kill();
        checker.waitForFinished();
        return damaged;
    }
    if (checker.exitStatus() != QProcess::NormalExit || checker.exitCode() != 0)
        return damaged;
    return {};
}

void ModelRegistry::log(const QString &line) const
{
    if (m_log)
        m_log(line);
}
