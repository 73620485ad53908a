#include "speech/SupportedLanguage.h"

#include <array>

namespace
{

struct Entry {
    const char16_t *code;
    const char16_t *displayName;
    const char16_t *flag;
};

// Flags are pairs of regional-indicator symbols, except the subdivision flags
// of Catalonia and Wales, the plain black flag and the white flag.
constexpr std::array<Entry, SupportedLanguage::count> catalogue = { { { u"en-US", u"English (US)",
                                                                          u"\U0001F1FA\U0001F1F8" },
    { u"en-GB", u"English (UK)", u"\U0001F1EC\U0001F1E7" },
    { u"en-AU", u"English (Australia)", u"\U0001F1E6\U0001F1FA" },
    { u"en-CA", u"English (Canada)", u"\U0001F1E8\U0001F1E6" },
    { u"en-IN", u"English (India)", u"\U0001F1EE\U0001F1F3" },
    { u"es-ES", u"Spanish (Spain)", u"\U0001F1EA\U0001F1F8" },
    { u"es-MX", u"Spanish (Mexico)", u"\U0001F1F2\U0001F1FD" },
    { u"es-US", u"Spanish (US)", u"\U0001F1FA\U0001F1F8" },
    { u"fr-FR", u"French (France)", u"\U0001F1EB\U0001F1F7" },
    { u"fr-CA", u"French (Canada)", u"\U0001F1E8\U0001F1E6" },
    { u"de-DE", u"German", u"\U0001F1E9\U0001F1EA" }, { u"it-IT", u"Italian", u"\U0001F1EE\U0001F1F9" },
    { u"pt-BR", u"Portuguese (Brazil)", u"\U0001F1E7\U0001F1F7" },
    { u"pt-PT", u"Portuguese (Portugal)", u"\U0001F1F5\U0001F1F9" },
    { u"zh-CN", u"Chinese (Simplified)", u"\U0001F1E8\U0001F1F3" },
    { u"zh-TW", u"Chinese (Traditional)", u"\U0001F1F9\U0001F1FC" },
    { u"zh-HK", u"Chinese (Hong Kong)", u"\U0001F1ED\U0001F1F0" },
    { u"ja-JP", u"Japanese", u"\U0001F1EF\U0001F1F5" }, { u"ko-KR", u"Korean", u"\U0001F1F0\U0001F1F7" },
    { u"ru-RU", u"Russian", u"\U0001F1F7\U0001F1FA" },
    { u"ar-SA", u"Arabic (Saudi)", u"\U0001F1F8\U0001F1E6" },
    { u"ar-AE", u"Arabic (UAE)", u"\U0001F1E6\U0001F1EA" }, { u"hi-IN", u"Hindi", u"\U0001F1EE\U0001F1F3" },
    { u"nl-NL", u"Dutch", u"\U0001F1F3\U0001F1F1" },
    { u"nl-BE", u"Dutch (Belgium)", u"\U0001F1E7\U0001F1EA" },
    { u"pl-PL", u"Polish", u"\U0001F1F5\U0001F1F1" }, { u"sv-SE", u"Swedish", u"\U0001F1F8\U0001F1EA" },
    { u"da-DK", u"Danish", u"\U0001F1E9\U0001F1F0" }, { u"nb-NO", u"Norwegian", u"\U0001F1F3\U0001F1F4" },
    { u"fi-FI", u"Finnish", u"\U0001F1EB\U0001F1EE" }, { u"tr-TR", u"Turkish", u"\U0001F1F9\U0001F1F7" },
    { u"th-TH", u"Thai", u"\U0001F1F9\U0001F1ED" }, { u"vi-VN", u"Vietnamese", u"\U0001F1FB\U0001F1F3" },
    { u"id-ID", u"Indonesian", u"\U0001F1EE\U0001F1E9" }, { u"ms-MY", u"Malay", u"\U0001F1F2\U0001F1FE" },
    { u"he-IL", u"Hebrew", u"\U0001F1EE\U0001F1F1" }, { u"sq-AL", u"Albanian", u"\U0001F1E6\U0001F1F1" },
    { u"hr-HR", u"Croatian", u"\U0001F1ED\U0001F1F7" }, { u"sr-RS", u"Serbian", u"\U0001F1F7\U0001F1F8" },
    { u"sl-SI", u"Slovenian", u"\U0001F1F8\U0001F1EE" }, { u"bs-BA", u"Bosnian", u"\U0001F1E7\U0001F1E6" },
    { u"mk-MK", u"Macedonian", u"\U0001F1F2\U0001F1F0" },
    { u"sr-ME", u"Montenegrin", u"\U0001F1F2\U0001F1EA" },
    { u"uk-UA", u"Ukrainian", u"\U0001F1FA\U0001F1E6" }, { u"el-GR", u"Greek", u"\U0001F1EC\U0001F1F7" },
    { u"cs-CZ", u"Czech", u"\U0001F1E8\U0001F1FF" }, { u"ro-RO", u"Romanian", u"\U0001F1F7\U0001F1F4" },
    { u"hu-HU", u"Hungarian", u"\U0001F1ED\U0001F1FA" }, { u"sk-SK", u"Slovak", u"\U0001F1F8\U0001F1F0" },
    { u"bg-BG", u"Bulgarian", u"\U0001F1E7\U0001F1EC" }, { u"lv-LV", u"Latvian", u"\U0001F1F1\U0001F1FB" },
    { u"lt-LT", u"Lithuanian", u"\U0001F1F1\U0001F1F9" }, { u"et-EE", u"Estonian", u"\U0001F1EA\U0001F1EA" },
    { u"be-BY", u"Belarusian", u"\U0001F1E7\U0001F1FE" },
    { u"ca-ES", u"Catalan", u"\U0001F3F4\U000E0065\U000E0073\U000E0063\U000E0074\U000E007F" },
    { u"eu-ES", u"Basque", u"\U0001F3F4" }, { u"gl-ES", u"Galician", u"\U0001F3F4" },
    { u"ga-IE", u"Irish", u"\U0001F1EE\U0001F1EA" },
    { u"cy-GB", u"Welsh", u"\U0001F3F4\U000E0067\U000E0062\U000E0077\U000E006C\U000E0073\U000E007F" },
    { u"is-IS", u"Icelandic", u"\U0001F1EE\U0001F1F8" }, { u"mt-MT", u"Maltese", u"\U0001F1F2\U0001F1F9" },
    { u"lb-LU", u"Luxembourgish", u"\U0001F1F1\U0001F1FA" },
    { u"fil-PH", u"Filipino", u"\U0001F1F5\U0001F1ED" }, { u"bn-BD", u"Bengali", u"\U0001F1E7\U0001F1E9" },
    { u"ta-IN", u"Tamil", u"\U0001F1EE\U0001F1F3" }, { u"te-IN", u"Telugu", u"\U0001F1EE\U0001F1F3" },
    { u"mr-IN", u"Marathi", u"\U0001F1EE\U0001F1F3" }, { u"gu-IN", u"Gujarati", u"\U0001F1EE\U0001F1F3" },
    { u"kn-IN", u"Kannada", u"\U0001F1EE\U0001F1F3" }, { u"ml-IN", u"Malayalam", u"\U0001F1EE\U0001F1F3" },
    { u"pa-IN", u"Punjabi", u"\U0001F1EE\U0001F1F3" }, { u"ur-PK", u"Urdu", u"\U0001F1F5\U0001F1F0" },
    { u"ne-NP", u"Nepali", u"\U0001F1F3\U0001F1F5" }, { u"si-LK", u"Sinhala", u"\U0001F1F1\U0001F1F0" },
    { u"km-KH", u"Khmer", u"\U0001F1F0\U0001F1ED" }, { u"lo-LA", u"Lao", u"\U0001F1F1\U0001F1E6" },
    { u"my-MM", u"Burmese", u"\U0001F1F2\U0001F1F2" }, { u"mn-MN", u"Mongolian", u"\U0001F1F2\U0001F1F3" },
    { u"kk-KZ", u"Kazakh", u"\U0001F1F0\U0001F1FF" }, { u"uz-UZ", u"Uzbek", u"\U0001F1FA\U0001F1FF" },
    { u"az-AZ", u"Azerbaijani", u"\U0001F1E6\U0001F1FF" }, { u"ka-GE", u"Georgian", u"\U0001F1EC\U0001F1EA" },
    { u"hy-AM", u"Armenian", u"\U0001F1E6\U0001F1F2" }, { u"sw-KE", u"Swahili", u"\U0001F1F0\U0001F1EA" },
    { u"af-ZA", u"Afrikaans", u"\U0001F1FF\U0001F1E6" }, { u"zu-ZA", u"Zulu", u"\U0001F1FF\U0001F1E6" },
    { u"am-ET", u"Amharic", u"\U0001F1EA\U0001F1F9" }, { u"so-SO", u"Somali", u"\U0001F1F8\U0001F1F4" },
    { u"ha-NG", u"Hausa", u"\U0001F1F3\U0001F1EC" }, { u"yo-NG", u"Yoruba", u"\U0001F1F3\U0001F1EC" },
    { u"ig-NG", u"Igbo", u"\U0001F1F3\U0001F1EC" }, { u"fa-IR", u"Persian", u"\U0001F1EE\U0001F1F7" },
    { u"ps-AF", u"Pashto", u"\U0001F1E6\U0001F1EB" }, { u"ku-TR", u"Kurdish", u"\U0001F3F3\uFE0F" } } };

const Entry &entry(SupportedLanguage::Case value)
{
    return catalogue[size_t(value)];
}

} // namespace

std::optional<SupportedLanguage> SupportedLanguage::fromCode(const QString &code)
{
    for (size_t row = 0; row < catalogue.size(); ++row) {
        if (code == QStringView(catalogue[row].code))
            return SupportedLanguage(Case(row));
    }
    return std::nullopt;
}

const QList<SupportedLanguage> &SupportedLanguage::allCases()
{
    static const QList<SupportedLanguage> cases = [] {
        QList<SupportedLanguage> list;
        for (int row = 0; row < count; ++row)
            list.append(SupportedLanguage(Case(row)));
        return list;
    }();
    return cases;
}

QString SupportedLanguage::rawValue() const
{
    return QString::fromUtf16(entry(m_value).code);
}

QString SupportedLanguage::displayName() const
{
    return QString::fromUtf16(entry(m_value).displayName);
}

QString SupportedLanguage::flag() const
{
    return QString::fromUtf16(entry(m_value).flag);
}
