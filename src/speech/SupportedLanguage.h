#pragma once

#include <QList>
#include <QMetaType>
#include <QObject>
#include <QString>

#include <optional>

// One of the 94 languages the user can dictate in. The code ("en-US") is the
// only form in which a language leaves the program; the catalogue order is the
// order the picker shows.
class SupportedLanguage
{
    Q_GADGET
    Q_PROPERTY(QString code READ rawValue CONSTANT)
    Q_PROPERTY(QString displayName READ displayName CONSTANT)
    Q_PROPERTY(QString flag READ flag CONSTANT)
    Q_PROPERTY(bool isCloudOnly READ isCloudOnly CONSTANT)

public:
    enum Case {
        english_US,
        english_UK,
        english_AU,
        english_CA,
        english_IN,
        spanish_ES,
        spanish_MX,
        spanish_US,
        french_FR,
        french_CA,
        german,
        italian,
        portuguese_BR,
        portuguese_PT,
        chinese_simplified,
        chinese_traditional,
        chinese_HK,
        japanese,
        korean,
        russian,
        arabic_SA,
        arabic_AE,
        hindi,
        dutch,
        dutch_BE,
        polish,
        swedish,
        danish,
        norwegian,
        finnish,
        turkish,
        thai,
        vietnamese,
        indonesian,
        malay,
        hebrew,
        albanian,
        croatian,
        serbian,
        slovenian,
        bosnian,
        macedonian,
        montenegrin,
        ukrainian,
        greek,
        czech,
        romanian,
        hungarian,
        slovak,
        bulgarian,
        latvian,
        lithuanian,
        estonian,
        belarusian,
        catalan,
        basque,
        galician,
        irish,
        welsh,
        icelandic,
        maltese,
        luxembourgish,
        filipino,
        bengali,
        tamil,
        telugu,
        marathi,
        gujarati,
        kannada,
        malayalam,
        punjabi,
        urdu,
        nepali,
        sinhala,
        khmer,
        lao,
        burmese,
        mongolian,
        kazakh,
        uzbek,
        azerbaijani,
        georgian,
        armenian,
        swahili,
        afrikaans,
        zulu,
        amharic,
        somali,
        hausa,
        yoruba,
        igbo,
        persian,
        pashto,
        kurdish
    };
    Q_ENUM(Case)

    static constexpr int count = 94;

    constexpr SupportedLanguage(Case value = english_US)
        : m_value(value)
    {
    }

    // Exact, case-sensitive match against the codes; anything else is no language.
    static std::optional<SupportedLanguage> fromCode(const QString &code);
    static const QList<SupportedLanguage> &allCases();

    Case value() const { return m_value; }
    QString rawValue() const;
    QString id() const { return rawValue(); }
    QString displayName() const;
    QString flag() const;
    // Only the first 36 languages of the catalogue may use the on-device path.
    bool isCloudOnly() const { return int(m_value) > int(hebrew); }

    friend bool operator==(SupportedLanguage a, SupportedLanguage b) { return a.m_value == b.m_value; }

private:
    Case m_value;
};

Q_DECLARE_METATYPE(SupportedLanguage)
