// The language catalogue checked against the published list of codes, with
// flags and cloud-only status derived independently of the program's table.
#include "speech/SupportedLanguage.h"

#include <QMetaProperty>
#include <QStandardPaths>
#include <QTest>
#include <QTextBoundaryFinder>

namespace {

// All 94 codes in picker order.
const QStringList codes = QStringLiteral(
    "en-US en-GB en-AU en-CA en-IN es-ES es-MX es-US fr-FR fr-CA de-DE it-IT pt-BR pt-PT zh-CN zh-TW "
    "zh-HK ja-JP ko-KR ru-RU ar-SA ar-AE hi-IN nl-NL nl-BE pl-PL sv-SE da-DK nb-NO fi-FI tr-TR th-TH "
    "vi-VN id-ID ms-MY he-IL sq-AL hr-HR sr-RS sl-SI bs-BA mk-MK sr-ME uk-UA el-GR cs-CZ ro-RO hu-HU "
    "sk-SK bg-BG lv-LV lt-LT et-EE be-BY ca-ES eu-ES gl-ES ga-IE cy-GB is-IS mt-MT lb-LU fil-PH bn-BD "
    "ta-IN te-IN mr-IN gu-IN kn-IN ml-IN pa-IN ur-PK ne-NP si-LK km-KH lo-LA my-MM mn-MN kk-KZ uz-UZ "
    "az-AZ ka-GE hy-AM sw-KE af-ZA zu-ZA am-ET so-SO ha-NG yo-NG ig-NG fa-IR ps-AF ku-TR")
                              .split(u' ');

QString regionalFlag(QStringView region)
{
    QString flag;
    for (QChar letter : region)
        flag += QString::fromUcs4(std::u32string{char32_t(0x1F1E6 + (letter.unicode() - u'A'))}.c_str());
    return flag;
}

QString subdivisionFlag(const char *tag)
{
    std::u32string sequence = {0x1F3F4};
    for (const char *c = tag; *c; ++c)
        sequence += char32_t(0xE0000 + *c);
    sequence += char32_t(0xE007F);
    return QString::fromUcs4(sequence.c_str());
}

int graphemeCount(const QString &text)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    int count = 0;
    while (finder.toNextBoundary() != -1)
        ++count;
    return count;
}

} // namespace

class TestSupportedLanguage : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void catalogueOrderAndCodes()
    {
        QCOMPARE(codes.size(), 94);
        const auto &all = SupportedLanguage::allCases();
        QCOMPARE(all.size(), 94);
        QCOMPARE(all.first(), SupportedLanguage(SupportedLanguage::english_US));
        QCOMPARE(all.last(), SupportedLanguage(SupportedLanguage::kurdish));
        QCOMPARE(all.at(35), SupportedLanguage(SupportedLanguage::hebrew));
        QCOMPARE(all.at(36), SupportedLanguage(SupportedLanguage::albanian));
        for (int row = 0; row < all.size(); ++row) {
            QCOMPARE(all[row].rawValue(), codes[row]);
            QCOMPARE(all[row].id(), codes[row]);
            const auto parsed = SupportedLanguage::fromCode(codes[row]);
            QVERIFY(parsed);
            QCOMPARE(*parsed, all[row]);
            QCOMPARE(int(parsed->value()), row);
        }
        QCOMPARE(SupportedLanguage(SupportedLanguage::norwegian).rawValue(), QString("nb-NO"));
        QCOMPARE(SupportedLanguage(SupportedLanguage::montenegrin).rawValue(), QString("sr-ME"));
        QCOMPARE(SupportedLanguage(SupportedLanguage::filipino).rawValue(), QString("fil-PH"));
    }

    void constructionFromCodeIsExact()
    {
        for (const char *code : {"en-us", "EN-US", "en", "", " en-US", "en-US ", "en_US", "no-NO",
                                    "zh-Hans", "fil", "de-AT"})
            QVERIFY2(!SupportedLanguage::fromCode(QString::fromUtf8(code)), code);
    }

    void derivedProperties()
    {
        const auto &all = SupportedLanguage::allCases();
        int onDevice = 0;
        for (int row = 0; row < all.size(); ++row) {
            const SupportedLanguage language = all[row];
            QCOMPARE(language.isCloudOnly(), row > 35);
            onDevice += !language.isCloudOnly();

            const QString name = language.displayName();
            QVERIFY(!name.isEmpty());
            for (QChar c : name)
                QVERIFY2(c.unicode() < 0x80, qPrintable(name));
        }
        QCOMPARE(onDevice, 36);
        for (auto cloudOnly : {SupportedLanguage::ukrainian, SupportedLanguage::greek, SupportedLanguage::czech})
            QVERIFY(SupportedLanguage(cloudOnly).isCloudOnly());

        QCOMPARE(SupportedLanguage(SupportedLanguage::english_UK).displayName(), QString("English (UK)"));
        QCOMPARE(SupportedLanguage(SupportedLanguage::spanish_MX).displayName(), QString("Spanish (Mexico)"));
        QCOMPARE(SupportedLanguage(SupportedLanguage::arabic_SA).displayName(), QString("Arabic (Saudi)"));
        QCOMPARE(SupportedLanguage(SupportedLanguage::chinese_HK).displayName(), QString("Chinese (Hong Kong)"));
        QCOMPARE(SupportedLanguage(SupportedLanguage::norwegian).displayName(), QString("Norwegian"));
        QCOMPARE(SupportedLanguage(SupportedLanguage::kurdish).displayName(), QString("Kurdish"));

        // Names are unique, so the picker can tell languages apart.
        QSet<QString> names;
        for (const SupportedLanguage language : all)
            names.insert(language.displayName());
        QCOMPARE(names.size(), 94);
    }

    void flags()
    {
        const QHash<SupportedLanguage::Case, QString> special = {
            {SupportedLanguage::catalan, subdivisionFlag("esct")},
            {SupportedLanguage::welsh, subdivisionFlag("gbwls")},
            {SupportedLanguage::basque, QString::fromUcs4(U"\U0001F3F4")},
            {SupportedLanguage::galician, QString::fromUcs4(U"\U0001F3F4")},
            {SupportedLanguage::kurdish, QString::fromUcs4(U"\U0001F3F3\uFE0F")},
        };
        for (const SupportedLanguage language : SupportedLanguage::allCases()) {
            const QString expected = special.value(language.value(),
                                                   regionalFlag(QStringView(language.rawValue()).split(u'-').last()));
            QCOMPARE(language.flag(), expected);
            QCOMPARE(graphemeCount(language.flag()), 1);
        }
        QCOMPARE(SupportedLanguage(SupportedLanguage::catalan).flag().toUtf8().size(), 24);
        QCOMPARE(SupportedLanguage(SupportedLanguage::welsh).flag().toUtf8().size(), 28);
    }

    void readableAsAValueType()
    {
        const SupportedLanguage language(SupportedLanguage::german);
        const QMetaObject &meta = SupportedLanguage::staticMetaObject;
        auto read = [&](const char *name) {
            return meta.property(meta.indexOfProperty(name)).readOnGadget(&language);
        };
        QCOMPARE(read("code").toString(), QString("de-DE"));
        QCOMPARE(read("displayName").toString(), QString("German"));
        QCOMPARE(read("isCloudOnly").toBool(), false);
        QCOMPARE(QVariant::fromValue(language).value<SupportedLanguage>(), language);
    }
};

QTEST_GUILESS_MAIN(TestSupportedLanguage)
#include "test_supported_language.moc"
