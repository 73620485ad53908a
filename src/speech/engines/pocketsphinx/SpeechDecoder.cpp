#include "speech/engines/pocketsphinx/SpeechDecoder.h"

#include "speech/engines/pocketsphinx/PocketSphinxDecoderConfig.h"

#include <sphinxbase/err.h>

#include <QDir>
#include <QFileInfo>
#include <QtEndian>

#include <mutex>

namespace
{

// The engine reads its input in blocks of this many samples; cutting
// utterances at the same points keeps our transcripts equal to its own.
constexpr size_t blockSamples = 2048;

void discardEngineMessage(void *, err_lvl_t, const char *, ...) { }

// The engine keeps one log file for the whole process, and every decoder it
// makes closes that file and opens another. Two workers loading at once
// closed a file twice, and a worker logging during another's load wrote into
// a closed one. Loads therefore take turns, and the engine's messages never
// reach its log file: decodes running beside a load cannot touch it.
std::mutex &engineLoading()
{
    static std::mutex mutex;
    static std::once_flag quiet;
    std::call_once(quiet, [] { err_set_callback(discardEngineMessage, nullptr); });
    return mutex;
}

} // namespace

struct SpeechDecoder::Private {
    ps_decoder_t *decoder = nullptr;
    // The running mean of cepstral normalisation adapts to what it hears.
    // Each upload starts from the state a fresh decoder has, so that a
    // transcript does not depend on who spoke to this decoder before.
    std::vector<mfcc_t> initialMean;
    std::vector<mfcc_t> initialSum;
    int32 initialFrames = 0;
    std::vector<int16> samples;

    ~Private()
    {
        if (decoder)
            ps_free(decoder);
    }

    cmn_t *cmn() const
    {
        feat_t *features = ps_get_feat(decoder);
        return features ? features->cmn_struct : nullptr;
    }
};

std::unique_ptr<SpeechDecoder> SpeechDecoder::create(const PocketSphinxModel &model, QString *error)
{
    if (!model.isInstalled()) {
        if (error)
            *error = QStringLiteral("speech model not installed (%1)").arg(model.acousticModel);
        return nullptr;
    }
    auto d = std::make_unique<Private>();
    const QByteArray hmm = QFile::encodeName(model.acousticModel);
    const QByteArray lm = QFile::encodeName(model.languageModel);
    const QByteArray dict = QFile::encodeName(model.dictionary);
    // Made exactly as the model checker makes it, so that a model it accepts
    // loads here too.
    {
        std::lock_guard loading(engineLoading());
        d->decoder = makePocketSphinxDecoder(hmm.constData(), lm.constData(), dict.constData());
    }
    if (!d->decoder) {
        if (error)
            *error = QStringLiteral("could not load the speech model in %1").arg(model.acousticModel);
        return nullptr;
    }
    if (cmn_t *cmn = d->cmn()) {
        d->initialMean.assign(cmn->cmn_mean, cmn->cmn_mean + cmn->veclen);
        d->initialSum.assign(cmn->sum, cmn->sum + cmn->veclen);
        d->initialFrames = cmn->nframe;
    }
    return std::unique_ptr<SpeechDecoder>(new SpeechDecoder(std::move(d)));
}

SpeechDecoder::SpeechDecoder(std::unique_ptr<Private> d)
    : d(std::move(d))
{
}

SpeechDecoder::~SpeechDecoder() = default;

QString SpeechDecoder::decode(const QByteArray &pcm)
{
    if (cmn_t *cmn = d->cmn(); cmn && !d->initialMean.empty()) {
        std::copy(d->initialMean.begin(), d->initialMean.end(), cmn->cmn_mean);
        std::copy(d->initialSum.begin(), d->initialSum.end(), cmn->sum);
        cmn->nframe = d->initialFrames;
    }

    const size_t count = size_t(pcm.size()) / sizeof(qint16);
    d->samples.resize(count);
    qFromLittleEndian<qint16>(pcm.constData(), qsizetype(count), d->samples.data());

    QStringList words;
    const auto takeHypothesis = [&] {
        if (const char *hypothesis = ps_get_hyp(d->decoder, nullptr); hypothesis && *hypothesis)
            words << QString::fromUtf8(hypothesis);
    };

    ps_start_utt(d->decoder);
    bool inUtterance = false;
    for (size_t offset = 0; offset < count; offset += blockSamples) {
        const size_t block = std::min(blockSamples, count - offset);
        ps_process_raw(d->decoder, d->samples.data() + offset, block, FALSE, FALSE);
        const bool inSpeech = ps_get_in_speech(d->decoder);
        if (inSpeech && !inUtterance)
            inUtterance = true;
        if (!inSpeech && inUtterance) {
            ps_end_utt(d->decoder);
            takeHypothesis();
            ps_start_utt(d->decoder);
            inUtterance = false;
        }
    }
    ps_end_utt(d->decoder);
    if (inUtterance)
        takeHypothesis();
    return words.join(u' ');
}
