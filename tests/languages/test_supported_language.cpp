// The language catalogue against the published codes in picker order, with
// flags and cloud-only status derived independently of the program's table.
#include "speech/SupportedLanguage.h"

#include <QStandardPaths>
#include <QTest>

const QStringList codes = QStringLiteral(
    "en-US en-GB en-AU en-CA en-IN es-ES es-MX es-US fr-FR fr-CA de-DE it-IT pt-BR pt-PT zh-CN zh-TW "
    "zh-HK ja-JP ko-KR ru-RU ar-SA ar-AE hi-IN nl-NL nl-BE pl-PL sv-SE da-DK nb-NO fi-FI tr-TR th-TH "
    "vi-VN id-ID ms-MY he-IL sq-AL hr-HR sr-RS sl-SI bs-BA mk-MK sr-ME uk-UA el-GR cs-CZ ro-RO hu-HU "
    "sk-SK bg-BG lv-LV lt-LT et-EE be-BY ca-ES eu-ES gl-ES ga-IE cy-GB is-IS mt-MT lb-LU fil-PH bn-BD "
    "ta-IN te-IN mr-IN gu-IN kn-IN ml-IN pa-IN ur-PK ne-NP si-LK km-KH lo-LA my-MM mn-MN kk-KZ uz-UZ "
    "az-AZ ka-GE hy-AM sw-KE af-ZA zu-ZA am-ET so-SO ha-NG yo-NG ig-NG fa-IR ps-AF ku-TR")
                              .split(u' ');

class TestSupportedLanguage : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void catalogue()
    {
        // Regions with their own flag (tag sequences), and two without one.
        const QHash<QString, QString> specialFlags
            = { { "ca-ES", u"\U0001F3F4\U000E0065\U000E0073\U000E0063\U000E0074\U000E007F"_qs },
                  { "cy-GB", u"\U0001F3F4\U000E0067\U000E0062\U000E0077\U000E006C\U000E0073\U000E007F"_qs },
                  { "eu-ES", u"\U0001F3F4"_qs }, { "gl-ES", u"\U0001F3F4"_qs },
                  { "ku-TR", u"\U0001F3F3\uFE0F"_qs } };
        const auto &all = SupportedLanguage::allCases();
        QCOMPARE(all.size(), codes.size());
        QSet<QString> names;
        for (int row = 0; row < all.size(); ++row) {
            const SupportedLanguage language = all[row];
            QCOMPARE(language.rawValue(), codes[row]);
            QCOMPARE(SupportedLanguage::fromCode(codes[row]), std::optional(language));
            // The first 36 (up to Hebrew) are also recognised on the device.
            QCOMPARE(language.isCloudOnly(), row > 35);
            std::u32string country; // the regional indicator letters of the country code
            for (QChar letter : codes[row].section('-', 1))
                country += char32_t(0x1F1E6 + letter.unicode() - u'A');
            QCOMPARE(language.flag(), specialFlags.value(codes[row], QString::fromUcs4(country.c_str())));
            names.insert(language.displayName());
        }
        // Distinct names, so the picker can tell the languages apart.
        QCOMPARE(names.size(), all.size());
        QCOMPARE(SupportedLanguage::fromCode("zh-HK")->displayName(), QString("Chinese (Hong Kong)"));
        for (const char *code :
            { "en-us", "EN-US", "en", "", " en-US", "en_US", "no-NO", "de-AT" }) // exact only
            QVERIFY2(!SupportedLanguage::fromCode(QString::fromUtf8(code)), code);
    }
};

QTEST_GUILESS_MAIN(TestSupportedLanguage)
#include "test_supported_language.moc"
