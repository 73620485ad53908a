// How much the server path loses by decoding a dictation in separate uploads.
// The librivox recordings of pocketsphinx-testdata, joined into one stream,
// are decoded by the server's decoder whole, cut every three seconds (as the
// client once did), and cut where the client cuts them now; each transcript
// is scored against the books' text.
//
//   uploads_bench FOLDER   (holding the recordings and their "transcription")
//
// Prints "name: value" lines; fails when its input is missing or when the
// cuts cost more than two points of word error rate over the whole stream.

#include "WordErrors.h"
#include "speech/UploadSegmenter.h"
#include "speech/engines/pocketsphinx/SpeechDecoder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <random>

using namespace std::chrono_literals;

namespace
{

constexpr double allowedLossPoints = 2.0;
constexpr std::chrono::milliseconds fixedInterval = 3s;

[[noreturn]] void fail(const QString &message)
{
    std::fprintf(stderr, "uploads_bench: %s\n", qPrintable(message));
    std::exit(1);
}

double wordErrorRate(const QString &reference, const QString &hypothesis)
{
    const QStringList words = splitWords(reference);
    return words.isEmpty() ? 0.0 : double(countEdits(words, splitWords(hypothesis))) / double(words.size());
}

// The samples of a 16 kHz mono 16-bit WAVE file.
QByteArray readWave(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        fail(QStringLiteral("cannot read %1").arg(path));
    const QByteArray bytes = file.readAll();
    if (!bytes.startsWith("RIFF") || bytes.mid(8, 4) != "WAVE")
        fail(QStringLiteral("%1 is not a WAVE file").arg(path));
    bool formatChecked = false;
    for (qsizetype at = 12; at + 8 <= bytes.size();) {
        const QByteArray id = bytes.mid(at, 4);
        const qsizetype size = qFromLittleEndian<quint32>(bytes.constData() + at + 4);
        const qsizetype body = at + 8;
        if (id == "fmt " && size >= 16) {
            const auto channels = qFromLittleEndian<quint16>(bytes.constData() + body + 2);
            const auto rate = qFromLittleEndian<quint32>(bytes.constData() + body + 4);
            const auto bits = qFromLittleEndian<quint16>(bytes.constData() + body + 14);
            if (channels != 1 || rate != quint32(UploadSegmenter::sampleRate) || bits != 16)
                fail(QStringLiteral("%1 is not 16 kHz mono 16-bit").arg(path));
            formatChecked = true;
        } else if (id == "data" && formatChecked) {
            return bytes.mid(body, std::min(size, bytes.size() - body) & ~qsizetype(1));
        }
        at = body + size + (size & 1);
    }
    fail(QStringLiteral("%1 has no samples").arg(path));
}

// "<s> words </s> (file id)" lines.
QMap<QString, QString> readReference(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        fail(QStringLiteral("cannot read %1").arg(path));
    QMap<QString, QString> reference;
    static const QRegularExpression line(QStringLiteral("^(.*)\\((\\S+)\\)\\s*$"));
    for (const QString &text : QString::fromUtf8(file.readAll()).split(u'\n')) {
        const QRegularExpressionMatch match = line.match(text);
        if (!match.hasMatch())
            continue;
        QString words = match.captured(1);
        words.remove(QStringLiteral("<s>")).remove(QStringLiteral("</s>"));
        reference[match.captured(2)] = words.simplified();
    }
    return reference;
}

struct Decoded {
    QString text;
    int uploads = 0;
    double longestSeconds = 0;
};

Decoded decodeInPieces(SpeechDecoder &decoder, const QList<QByteArray> &pieces)
{
    Decoded decoded;
    QStringList texts;
    for (const QByteArray &piece : pieces) {
        if (const QString text = decoder.decode(piece); !text.isEmpty())
            texts << text;
        ++decoded.uploads;
        decoded.longestSeconds
            = std::max(decoded.longestSeconds, double(piece.size()) / UploadSegmenter::bytesPerSecond);
    }
    // Joined as the client joins the replies.
    decoded.text = texts.join(u' ');
    return decoded;
}

QList<QByteArray> fixedCuts(const QByteArray &stream)
{
    QList<QByteArray> pieces;
    const qsizetype step = UploadSegmenter::bytes(fixedInterval);
    for (qsizetype at = 0; at < stream.size(); at += step)
        pieces << stream.mid(at, step);
    const qsizetype least = UploadSegmenter::bytes(UploadSegmenter::Bounds {}.minimum);
    if (!pieces.isEmpty() && pieces.last().size() < least)
        pieces.last().append(QByteArray(least - pieces.last().size(), '\0'));
    return pieces;
}

// Fed in the chunks a microphone delivers, as the client is.
QList<QByteArray> pauseCuts(const QByteArray &stream)
{
    constexpr qsizetype chunk = UploadSegmenter::bytesPerSecond / 50;
    UploadSegmenter segmenter;
    QList<QByteArray> pieces;
    for (qsizetype at = 0; at < stream.size(); at += chunk) {
        for (const UploadSegmenter::Segment &segment :
            segmenter.append(QByteArrayView(stream).sliced(at, std::min(chunk, stream.size() - at))))
            pieces << segment.pcm;
    }
    if (const auto last = segmenter.finish())
        pieces << last->pcm;
    return pieces;
}

// Where each upload but the last ends in the stream.
QList<qsizetype> cutPositions(const QList<QByteArray> &pieces)
{
    QList<qsizetype> positions;
    qsizetype at = 0;
    for (qsizetype i = 0; i + 1 < pieces.size(); ++i)
        positions << (at += pieces[i].size());
    return positions;
}

QByteArray transformed(const QByteArray &stream, const std::function<double(double)> &sample)
{
    QByteArray out(stream.size(), '\0');
    for (qsizetype i = 0; i + 1 < stream.size(); i += 2) {
        const double value = sample(qFromLittleEndian<qint16>(stream.constData() + i));
        qToLittleEndian<qint16>(qint16(std::clamp(std::lround(value), -32768L, 32767L)), out.data() + i);
    }
    return out;
}

void print(const QString &name, double value, int decimals = 3)
{
    std::printf("%s: %.*f\n", qPrintable(name), decimals, value);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    if (application.arguments().size() != 2)
        fail(QStringLiteral("usage: uploads_bench FOLDER"));
    const QDir folder(application.arguments().at(1));
    const QStringList clips = folder.entryList({ QStringLiteral("*.wav") }, QDir::Files, QDir::Name);
    if (clips.isEmpty())
        fail(QStringLiteral("no recordings in %1 (package pocketsphinx-testdata)").arg(folder.path()));
    const QMap<QString, QString> reference = readReference(folder.filePath(QStringLiteral("transcription")));

    QByteArray stream;
    QStringList expected;
    for (const QString &clip : clips) {
        const QString id = QFileInfo(clip).completeBaseName();
        if (!reference.contains(id))
            fail(QStringLiteral("no text for %1 in the transcription").arg(clip));
        stream += readWave(folder.filePath(clip));
        expected << reference[id];
    }
    const QString text = expected.join(u' ');
    print(
        QStringLiteral("uploads_stream_seconds"), double(stream.size()) / UploadSegmenter::bytesPerSecond, 1);

    QString error;
    const std::unique_ptr<SpeechDecoder> decoder
        = SpeechDecoder::create(PocketSphinxModel::debianUsEnglishLocation(), &error);
    if (!decoder)
        fail(error);

    const double whole = wordErrorRate(text, decoder->decode(stream));
    const Decoded fixed = decodeInPieces(*decoder, fixedCuts(stream));
    const QList<QByteArray> pieces = pauseCuts(stream);
    const Decoded paused = decodeInPieces(*decoder, pieces);
    print(QStringLiteral("uploads_wer_whole_stream"), whole);
    print(QStringLiteral("uploads_wer_fixed_3s"), wordErrorRate(text, fixed.text));
    print(QStringLiteral("uploads_wer_pause_cuts"), wordErrorRate(text, paused.text));
    print(QStringLiteral("uploads_pause_cuts_count"), paused.uploads, 0);
    print(QStringLiteral("uploads_pause_cuts_longest"), paused.longestSeconds, 2);
    const double loss = (wordErrorRate(text, paused.text) - whole) * 100.0;
    if (loss > allowedLossPoints)
        std::fprintf(stderr, "uploads_bench: the pause cuts lose %.1f points over the whole stream\n", loss);

    // The same speech at a tenth of its level, and under steady noise, must
    // be cut at the same pauses. (Their word error rates say more about the
    // decoder than about the cuts: its normalisation starts afresh in every
    // upload, and takes longer to settle on a faint or noisy one.)
    std::mt19937 random(20);
    std::normal_distribution<double> hiss(0.0, 300.0);
    const struct {
        const char *suffix;
        QByteArray pcm;
    } variants[] = {
        { "quiet", transformed(stream, [](double s) { return s / 10.0; }) },
        { "noisy", transformed(stream, [&](double s) { return s + hiss(random); }) },
    };
    const QList<qsizetype> cuts = cutPositions(pieces);
    for (const auto &variant : variants) {
        const QList<qsizetype> moved = cutPositions(pauseCuts(variant.pcm));
        double furthest = moved.size() == cuts.size() ? 0.0 : qInf();
        for (qsizetype i = 0; i < std::min(cuts.size(), moved.size()); ++i)
            furthest
                = std::max(furthest, double(std::abs(moved[i] - cuts[i])) / UploadSegmenter::bytesPerSecond);
        print(QStringLiteral("uploads_pause_cuts_moved_%1").arg(QLatin1String(variant.suffix)), furthest, 2);
    }
    return loss <= allowedLossPoints ? 0 : 1;
}
