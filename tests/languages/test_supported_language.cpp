// The language catalogue: codes that read back, flags derived independently
// of the program's table.
#include "speech/SupportedLanguage.h"

#include <QStandardPaths>
#include <QTest>

class TestSupportedLanguage : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void catalogue()
    {
        const auto &all = SupportedLanguage::allCases();
        QSet<QString> names;
        for (const SupportedLanguage &language : all) {
            const QString code = language.rawValue();
            QCOMPARE(SupportedLanguage::fromCode(code), std::optional(language));
            // Distinct names, so the picker can tell the languages apart.
            names.insert(language.displayName());
            // The country's regional indicators, unless the region has a flag of its own or none.
            if (language.flag().startsWith(u"\U0001F3F4"_qs) || language.flag().startsWith(u"\U0001F3F3"_qs))
                continue;
            std::u32string country;
            for (QChar letter : code.section('-', 1))
                country += char32_t(0x1F1E6 + letter.unicode() - u'A');
            QCOMPARE(language.flag(), QString::fromUcs4(country.c_str()));
        }
        QCOMPARE(names.size(), all.size());
        QVERIFY(!SupportedLanguage::fromCode("he-IL")->isCloudOnly()
            && SupportedLanguage::fromCode("sq-AL")->isCloudOnly());
        for (const char *code : { "en-us", "en", "en_US", "de-AT" }) // exact only
            QVERIFY2(!SupportedLanguage::fromCode(QString::fromUtf8(code)), code);
    }
};

QTEST_GUILESS_MAIN(TestSupportedLanguage)
#include "test_supported_language.moc"
