#include "Speech.h"
#include "speech/PocketSphinxModel.h"
#include "speech/PocketSphinxRecognizer.h"
#include "speech/PocketSphinxSpeechBackend.h"

#include <QMutex>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <qcoro/qcorotask.h>

namespace {

// Everything a task reports, from whichever thread it reports on.
struct Reports {
    struct Report {
        std::optional<SpeechRecognitionResult> result;
        std::optional<SpeechRecognitionError> error;
    };
    QMutex mutex;
    QList<Report> all;

    static SpeechRecognizer::ResultHandler handler(const std::shared_ptr<Reports> &reports)
    {
        return [reports](std::optional<SpeechRecognitionResult> result, std::optional<SpeechRecognitionError> error) {
            QMutexLocker lock(&reports->mutex);
            reports->all.append({ result, error });
        };
    }
    QList<Report> snapshot()
    {
        QMutexLocker lock(&mutex);
        return all;
    }
    QStringList finals()
    {
        QStringList texts;
        for (const Report &report : snapshot())
            if (report.result && report.result->isFinal)
                texts << report.result->formattedString;
        return texts;
    }
    QStringList partials()
    {
        QStringList texts;
        for (const Report &report : snapshot())
            if (report.result && !report.result->isFinal)
                texts << report.result->formattedString;
        return texts;
    }
    QList<int> errorCodes()
    {
        QList<int> codes;
        for (const Report &report : snapshot())
            if (report.error)
                codes << report.error->code;
        return codes;
    }
    // "final" and error codes in the order they came.
    QStringList sequence()
    {
        QStringList order;
        for (const Report &report : snapshot()) {
            if (report.result && report.result->isFinal)
                order << QStringLiteral("final");
            if (report.error)
                order << QString::number(report.error->code);
        }
        return order;
    }
};

struct Session {
    std::shared_ptr<SpeechRecognitionRequest> request;
    std::shared_ptr<SpeechRecognitionTask> task;
    std::shared_ptr<Reports> reports = std::make_shared<Reports>();

    void feed(const std::vector<qint16> &samples, quint32 frames = 1024)
    {
        for (const AudioBuffer &buffer : Speech::asBuffers(samples, frames))
            request->append(buffer);
    }
};

Session startSession(PocketSphinxSpeechBackend &backend, const QString &locale = QStringLiteral("en-US"))
{
    Session session;
    const std::unique_ptr<SpeechRecognizer> recognizer = backend.makeRecognizer(locale);
    session.request = backend.makeRequest();
    session.request->setShouldReportPartialResults(true);
    session.task = recognizer->recognitionTask(session.request, Reports::handler(session.reports));
    return session;
}

constexpr int decodeTimeout = 30000;

} // namespace

class TestPocketSphinx : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        if (!Speech::haveTools() || !PocketSphinxModel::debianUsEnglish())
            QSKIP("flite and the US English model are needed");
        QVERIFY(m_folder.isValid());
    }

    void utterancesFollowOneAnotherInOneTranscript()
    {
        const std::vector<qint16> first = Speech::join({ Speech::silence(0.3), Speech::say("good morning everyone", m_folder.path()), Speech::silence(1.5) });
        const std::vector<qint16> second = Speech::join({ Speech::say("we will meet again tomorrow", m_folder.path()), Speech::silence(0.5) });
        const QString wav = m_folder.filePath("two.wav");
        QVERIFY(Speech::writeWav(wav, Speech::join({ first, second })));

        PocketSphinxSpeechBackend backend;
        Session session = startSession(backend);
        session.feed(first);
        // The pause ends the first utterance while the session goes on.
        QTRY_COMPARE_WITH_TIMEOUT(session.reports->finals(), QStringList { "good morning everyone" }, decodeTimeout);
        const qsizetype partialsOfFirst = session.reports->partials().size();
        QVERIFY(partialsOfFirst > 0);
        session.feed(second);
        session.request->endAudio();
        QTRY_COMPARE_WITH_TIMEOUT(session.reports->finals().size(), 2, decodeTimeout);
        const QString transcript = session.reports->finals().last();
        QCOMPARE(transcript, QString("good morning everyone we will meet again tomorrow"));
        // Partials of the second utterance keep the first in front.
        const QStringList partialsOfSecond = session.reports->partials().mid(partialsOfFirst);
        QVERIFY(!partialsOfSecond.isEmpty());
        for (const QString &partial : partialsOfSecond)
            QVERIFY2(partial.startsWith("good morning everyone "), qPrintable(partial));
        QTest::qWait(50);
        QVERIFY(session.reports->errorCodes().isEmpty());

        // The same recording read from a file by the engine alone.
        if (!QStandardPaths::findExecutable("pocketsphinx_continuous").isEmpty())
            QCOMPARE(transcript, Speech::decodeWithEngine(wav));

        // The decoder is reused, and forgets the last session: the same audio
        // in other buffer sizes and after other speech decodes the same.
        Session again = startSession(backend);
        again.feed(Speech::join({ first, second }), 441);
        again.request->endAudio();
        QTRY_COMPARE_WITH_TIMEOUT(again.reports->finals().size(), 2, decodeTimeout);
        QCOMPARE(again.reports->finals().last(), transcript);
        QCOMPARE(backend.pool()->loadsStarted(), 1);
    }

    void silenceIsReportedOnceAndEndsWithoutText()
    {
        PocketSphinxSpeechBackend backend;
        Session session = startSession(backend);
        session.feed(Speech::silence(4.0));
        QTest::qWait(200);
        QVERIFY(session.reports->errorCodes().isEmpty());
        session.feed(Speech::silence(8.0));
        session.request->endAudio();
        QTRY_COMPARE_WITH_TIMEOUT(session.reports->errorCodes(), QList<int> { 1110 }, decodeTimeout);
        QTest::qWait(200);
        QCOMPARE(session.reports->errorCodes(), QList<int> { 1110 });
        QVERIFY(session.reports->finals().isEmpty());
    }

    void cancelAndEndOfAudio()
    {
        PocketSphinxSpeechBackend backend;
        const std::vector<qint16> speech = Speech::say("i would like a cup of coffee", m_folder.path());
        const QString wav = m_folder.filePath("hello.wav");
        QVERIFY(Speech::writeWav(wav, speech));

        // Cancelled while speech goes on: no final, just the cancellation.
        Session cancelled = startSession(backend);
        cancelled.feed(speech);
        cancelled.task->cancel();
        QTRY_COMPARE_WITH_TIMEOUT(cancelled.reports->errorCodes(), QList<int> { 216 }, decodeTimeout);
        QVERIFY(cancelled.reports->finals().isEmpty());

        // A stop ends the audio and cancels at once: the words already heard
        // still make their final result, then the cancellation follows.
        Session stopped = startSession(backend);
        stopped.feed(speech);
        stopped.request->endAudio();
        stopped.task->cancel();
        QTRY_COMPARE_WITH_TIMEOUT(stopped.reports->sequence(), QStringList({ "final", "216" }), decodeTimeout);
        QCOMPARE(stopped.reports->finals(), QStringList { "i would like a cup of coffee" });
        if (!QStandardPaths::findExecutable("pocketsphinx_continuous").isEmpty())
            QCOMPARE(stopped.reports->finals().first(), Speech::decodeWithEngine(wav));
        stopped.request->append(Speech::asBuffers(speech).front()); // after the end: ignored
        QCOMPARE(backend.pool()->loadsStarted(), 1);

        // Audio in a format nothing can convert ends the session as failed.
        Session broken = startSession(backend);
        AudioBuffer unusable = Speech::asBuffers(speech).front();
        unusable.format.sampleRate = 0;
        broken.request->append(unusable);
        QTRY_COMPARE_WITH_TIMEOUT(broken.reports->errorCodes(), QList<int> { 1107 }, decodeTimeout);
    }

    void modelsPerLocale()
    {
        const QString models =
            QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/tellwind/models/";
        QDir(models).removeRecursively();

        // US English comes with Debian; no model, no recognizer; a code is
        // never a path.
        QCOMPARE(PocketSphinxModel::forLocale("en-US")->acousticModel, Speech::modelFolder + "/en-us");
        QVERIFY(!PocketSphinxModel::forLocale("de-DE"));
        QVERIFY(!PocketSphinxModel::forLocale("../../model/en-us"));
        QVERIFY(!PocketSphinxModel::forLocale(""));

        // A user's folder serves its locale, US English included.
        QVERIFY(QDir().mkpath(models + "en-US/acoustic"));
        for (const char *part : { "mdef", "means", "variances", "sendump", "transition_matrices", "noisedict", "feat.params" })
            QFile::link(Speech::modelFolder + "/en-us/" + part, models + "en-US/acoustic/" + QString(part));
        QFile::link(Speech::modelFolder + "/en-us.lm.bin", models + "en-US/language.lm.bin");
        QFile::link(Speech::modelFolder + "/en-us-phone.lm.bin", models + "en-US/en-us-phone.lm.bin");
        QFile::link(Speech::modelFolder + "/cmudict-en-us.dict", models + "en-US/words.dict");
        const auto userModel = PocketSphinxModel::forLocale("en-US");
        QVERIFY(userModel);
        QCOMPARE(userModel->acousticModel, QDir(models + "en-US/acoustic").absolutePath());
        QCOMPARE(userModel->languageModel, QDir(models).absoluteFilePath("en-US/language.lm.bin"));

        // A folder with broken files: a recognizer exists until the model
        // fails to load; the session reports the failure, then the
        // recognizer is no longer available.
        QVERIFY(QDir().mkpath(models + "fr-FR/fr"));
        for (const char *file : { "fr/mdef", "fr/means", "fr.lm", "fr.dict" }) {
            QFile broken(models + "fr-FR/" + QString(file));
            QVERIFY(broken.open(QIODevice::WriteOnly));
            broken.write("not a model\n");
        }
        PocketSphinxSpeechBackend backend(QStringList {});
        std::unique_ptr<SpeechRecognizer> french = backend.makeRecognizer("fr-FR");
        QVERIFY(french);
        QVERIFY(french->supportsOnDeviceRecognition());
        Session session = startSession(backend, "fr-FR");
        QTRY_COMPARE_WITH_TIMEOUT(session.reports->errorCodes(), QList<int> { 1107 }, decodeTimeout);
        QVERIFY(!french->isAvailable());
        QVERIFY(!backend.makeRecognizer("de-DE"));
        QDir(models).removeRecursively();
    }

    void authorizationIsGranted()
    {
        PocketSphinxSpeechBackend backend(QStringList {});
        QCOMPARE(QCoro::waitFor(backend.requestAuthorization()), SpeechRecognizerAuthorizationStatus::authorized);
    }

private:
    QTemporaryDir m_folder;
};

QTEST_GUILESS_MAIN(TestPocketSphinx)
#include "test_pocketsphinx.moc"
