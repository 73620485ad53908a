#include "speech/UploadSegmenter.h"
#include "support/SyntheticSpeech.h"

#include <QTest>

using namespace std::chrono_literals;
using Bounds = UploadSegmenter::Bounds;

Q_DECLARE_METATYPE(Bounds)

// An upload as its length and the speech in it, in milliseconds.
using Shape = QList<QPair<int, int>>;

class TestUploadSegmenter : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cutsAtPauses_data()
    {
        QTest::addColumn<Bounds>("bounds");
        QTest::addColumn<QList<SpeechPart>>("parts");
        QTest::addColumn<double>("loudness");
        QTest::addColumn<double>("noise");
        QTest::addColumn<Shape>("expected"); // the last upload is the padded rest

        const Bounds standard;
        Bounds early;
        early.interval = 500ms;
        // A pause before the interval is passed by; the next one, reaching
        // 200 ms at 4.1 s, is cut in its middle.
        const QList<SpeechPart> twoPauses { silent(300), voiced(1700), silent(400), voiced(1500), silent(400),
            voiced(900) };
        const Shape atSecondPause { { 4000, 3200 }, { 1500, 900 } };
        QTest::newRow("pause after the interval") << standard << twoPauses << 8000.0 << 0.0 << atSecondPause;
        QTest::newRow("a whisper") << standard << twoPauses << 60.0 << 1.0 << atSecondPause;
        QTest::newRow("under loud noise") << standard << twoPauses << 8000.0 << 1000.0 << atSecondPause;
        // The clipped microphone of a shouting speaker.
        QTest::newRow("clipping") << standard << twoPauses << 80000.0 << 0.0 << atSecondPause;
        QTest::newRow("no pause before the minimum")
            << early
            << QList<SpeechPart> { silent(100), voiced(500), silent(300), voiced(800), silent(300),
                   voiced(500) }
            << 8000.0 << 0.0 << Shape { { 1800, 1300 }, { 1500, 500 } };
        QTest::newRow("pause across the minimum")
            << early << QList<SpeechPart> { silent(100), voiced(1100), silent(700), voiced(1000) } << 8000.0
            << 0.0 << Shape { { 1500, 1100 }, { 1500, 1000 } };
        QTest::newRow("no pause at all") << standard << QList<SpeechPart> { silent(300), voiced(9900) }
                                         << 8000.0 << 0.0 << Shape { { 8000, 7700 }, { 2200, 2200 } };
        QTest::newRow("only a short rest") << standard << QList<SpeechPart> { silent(200), voiced(600) }
                                           << 8000.0 << 0.0 << Shape { { 1500, 600 } };
        const QList<SpeechPart> nothingSaid { silent(7000) };
        const Shape steady { { 2900, 0 }, { 2900, 0 }, { 1500, 0 } };
        QTest::newRow("silence") << standard << nothingSaid << 0.0 << 0.0 << steady;
        QTest::newRow("loud noise alone") << standard << nothingSaid << 0.0 << 3000.0 << steady;
        QTest::newRow("nothing") << standard << QList<SpeechPart> {} << 0.0 << 0.0 << Shape {};
    }

    // Fed at once or in chunks that split samples: the same uploads, which
    // put together give back the stream and the padding.
    void cutsAtPauses()
    {
        QFETCH(Bounds, bounds);
        QFETCH(QList<SpeechPart>, parts);
        QFETCH(double, loudness);
        QFETCH(double, noise);
        QFETCH(Shape, expected);

        const QByteArray stream = syntheticSpeech(parts, loudness, noise);
        for (const qsizetype chunk : { stream.size(), qsizetype(333) }) {
            UploadSegmenter segmenter(bounds);
            QList<UploadSegmenter::Segment> uploads;
            for (qsizetype at = 0; at < stream.size(); at += chunk)
                uploads << segmenter.append(
                    QByteArrayView(stream).sliced(at, std::min(chunk, stream.size() - at)));
            if (const auto last = segmenter.finish())
                uploads << *last;
            QVERIFY(!segmenter.finish());

            Shape shape;
            QByteArray joined;
            for (const UploadSegmenter::Segment &upload : uploads) {
                shape << qMakePair(int(upload.pcm.size() / 32), int(upload.speech.count()));
                joined += upload.pcm;
            }
            QCOMPARE(shape.size(), expected.size());
            for (qsizetype i = 0; i < shape.size(); ++i) {
                // Edges of speech under noise move by a frame or two.
                QVERIFY2(std::abs(shape[i].first - expected[i].first) <= 20
                        && std::abs(shape[i].second - expected[i].second) <= 100,
                    qPrintable(QString::asprintf("upload %lld is %d ms with %d ms of speech, chunk %lld",
                        qlonglong(i), shape[i].first, shape[i].second, qlonglong(chunk))));
            }
            QCOMPARE(joined.left(stream.size()), stream);
            QCOMPARE(joined.mid(stream.size()), QByteArray(joined.size() - stream.size(), '\0'));
        }
    }
};

QTEST_GUILESS_MAIN(TestUploadSegmenter)
#include "test_upload_segmenter.moc"
