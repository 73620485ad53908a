#include "speech/TextFormatter.h"

#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QMutex>

#include <algorithm>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace
{

Q_LOGGING_CATEGORY(lcFormatting, "tellwind.formatting")

// What a spoken mark does to the sentence around it.
enum class Sentence {
    continues, // a comma, a colon: the next word is not capitalised
    ends, // a full stop, a line break: the next word is
    keeps, // quotes and brackets: whatever held before them holds after
};

struct Command {
    std::vector<std::u16string> words; // folded, the first included
    QString text;
    bool spaceBefore = false;
    bool spaceAfter = true;
    Sentence sentence = Sentence::continues;
};

struct WordEntry {
    QString capitalized; // null: the word keeps its case
    std::vector<int> commands; // the commands that start with this word, longest first
    bool literal = false;
};

struct ViewHash {
    using is_transparent = void;
    size_t operator()(std::u16string_view word) const noexcept
    {
        return std::hash<std::u16string_view> {}(word);
    }
};

struct Table {
    std::unordered_map<std::u16string, WordEntry, ViewHash, std::equal_to<>> words;
    std::vector<Command> commands;
};

// Words compare without case, and a typographic apostrophe ("I’m", as
// cloud transcripts write it) like the plain one. One code unit becomes one,
// so a folded text lines up with its source.
inline QChar fold(QChar c)
{
    const char16_t u = c.unicode();
    if (u < 0x80)
        return u >= u'A' && u <= u'Z' ? QChar(char16_t(u + 32)) : c;
    if (u == 0x2019)
        return QChar(u'\'');
    return c.toLower();
}

std::u16string folded(QStringView text)
{
    std::u16string result(size_t(text.size()), u'\0');
    for (qsizetype i = 0; i < text.size(); ++i)
        result[size_t(i)] = fold(text[i]).unicode();
    return result;
}

inline std::u16string_view view(QStringView text)
{
    return { text.utf16(), size_t(text.size()) };
}

inline bool isSpace(QChar c)
{
    const char16_t u = c.unicode();
    if (u < 0x80)
        return u == u' ' || (u >= u'\t' && u <= u'\r');
    return c.isSpace();
}

inline bool endsSentence(QChar c)
{
    const char16_t u = c.unicode();
    return u == u'.' || u == u'?' || u == u'!' || u == 0x2026;
}

std::vector<std::u16string> phraseWords(const QString &phrase)
{
    std::vector<std::u16string> words;
    for (const QString &word : phrase.split(u' ', Qt::SkipEmptyParts))
        words.push_back(folded(word));
    return words;
}

std::shared_ptr<const Table> parseTable(const QByteArray &json, const QString &name)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (!document.isObject()) {
        qCWarning(lcFormatting) << "The formatting table" << name << "is not valid:" << error.errorString();
        return nullptr;
    }
    const QJsonObject root = document.object();
    auto table = std::make_shared<Table>();

    for (const QJsonValue &value : root.value(QLatin1String("commands")).toArray()) {
        const QJsonObject object = value.toObject();
        Command command;
        command.text = object.value(QLatin1String("type")).toString();
        command.spaceBefore = object.value(QLatin1String("spaceBefore")).toBool(false);
        command.spaceAfter = object.value(QLatin1String("spaceAfter")).toBool(true);
        const QString sentence = object.value(QLatin1String("sentence")).toString();
        command.sentence = sentence == QLatin1String("ends") ? Sentence::ends
            : sentence == QLatin1String("keeps")             ? Sentence::keeps
                                                             : Sentence::continues;
        for (const QJsonValue &say : object.value(QLatin1String("say")).toArray()) {
            command.words = phraseWords(say.toString());
            if (command.words.empty() || command.text.isEmpty()) {
                qCWarning(lcFormatting) << "The formatting table" << name << "has an empty command";
                continue;
            }
            table->commands.push_back(command);
        }
    }
    for (int index = 0; index < int(table->commands.size()); ++index)
        table->words[table->commands[size_t(index)].words.front()].commands.push_back(index);
    // "new paragraph" before a shorter command that shares its first word.
    for (auto &[word, entry] : table->words) {
        std::stable_sort(entry.commands.begin(), entry.commands.end(), [&table](int a, int b) {
            return table->commands[size_t(a)].words.size() > table->commands[size_t(b)].words.size();
        });
    }

    const QString literal = root.value(QLatin1String("literal")).toString();
    if (!literal.isEmpty())
        table->words[folded(literal)].literal = true;
    for (const QJsonValue &value : root.value(QLatin1String("capitalize")).toArray()) {
        const QString word = value.toString();
        if (!word.isEmpty())
            table->words[folded(word)].capitalized = word;
    }
    return table;
}

std::shared_ptr<const Table> tableFor(QStringView language)
{
    static QMutex mutex;
    static QHash<QString, std::shared_ptr<const Table>> tables;
    const qsizetype dash = language.indexOf(u'-');
    const QString name = (dash < 0 ? language : language.left(dash)).toString().toLower();
    if (name.isEmpty())
        return nullptr;
    QMutexLocker lock(&mutex);
    const auto found = tables.constFind(name);
    if (found != tables.cend())
        return *found;
    std::shared_ptr<const Table> table;
    QFile file(QStringLiteral(":/formatting/%1.json").arg(name));
    if (file.open(QIODevice::ReadOnly))
        table = parseTable(file.readAll(), file.fileName());
    tables.insert(name, table);
    return table;
}

// A word at the start of a sentence: its first letter in title case.
void capitalizeFirst(QChar *word, qsizetype size)
{
    if (size > 1 && word[0].isHighSurrogate() && word[1].isLowSurrogate()) {
        const char32_t upper = QChar::toTitleCase(QChar::surrogateToUcs4(word[0], word[1]));
        if (QChar::requiresSurrogates(upper)) {
            word[0] = QChar(QChar::highSurrogate(upper));
            word[1] = QChar(QChar::lowSurrogate(upper));
        }
    } else if (size > 0) {
        word[0] = word[0].toTitleCase();
    }
}

struct Span {
    qsizetype start;
    qsizetype size;
};

class Formatting
{
public:
    Formatting(const QString &text, const Table &table, const TextFormatter::Context &context)
        : m_text(text)
        , m_table(table)
        , m_capitals(context.options.autoCapitalize)
        , m_punctuation(context.options.spokenPunctuation)
    {
        const TextFormatter::Options &options = context.options;
        m_capitalizeNext = m_capitals
            && (context.followsSentenceEnd || (context.recordingStart && options.capitalizeRecordingStart));
    }

    QString run()
    {
        m_folded.resize(m_text.size());
        for (qsizetype i = 0; i < m_text.size(); ++i)
            m_folded[i] = fold(m_text[i]);
        for (qsizetype i = 0; i < m_text.size();) {
            while (i < m_text.size() && isSpace(m_text[i]))
                ++i;
            const qsizetype start = i;
            while (i < m_text.size() && !isSpace(m_text[i]))
                ++i;
            if (i > start)
                m_spans.push_back({ start, i - start });
        }

        // Without spoken punctuation only letters change, in place, and the
        // text keeps its spacing exactly.
        if (!m_punctuation) {
            m_out = m_text;
            for (size_t word = 0; word < m_spans.size(); ++word)
                capitalize(word, m_out.data() + m_spans[word].start);
            return m_out;
        }

        m_out.reserve(m_text.size() + 8);
        for (size_t word = 0; word < m_spans.size();) {
            const WordEntry *entry = lookUp(word);
            if (entry && entry->literal && word + 1 < m_spans.size()) {
                // "literal comma" types the command's words themselves.
                if (const Command *command = commandAt(word + 1)) {
                    for (size_t i = 0; i < command->words.size(); ++i)
                        appendWord(word + 1 + i);
                    word += 1 + command->words.size();
                    continue;
                }
            }
            if (const Command *command = entry ? commandAt(word, entry) : nullptr) {
                appendCommand(*command);
                word += command->words.size();
                continue;
            }
            appendWord(word);
            ++word;
        }
        return m_out;
    }

private:
    QStringView key(size_t word) const
    {
        return QStringView(m_folded).mid(m_spans[word].start, m_spans[word].size);
    }

    const WordEntry *lookUp(size_t word) const
    {
        const auto found = m_table.words.find(view(key(word)));
        return found == m_table.words.end() ? nullptr : &found->second;
    }

    const Command *commandAt(size_t word) const
    {
        const WordEntry *entry = lookUp(word);
        return entry ? commandAt(word, entry) : nullptr;
    }

    const Command *commandAt(size_t word, const WordEntry *entry) const
    {
        for (const int index : entry->commands) {
            const Command &command = m_table.commands[size_t(index)];
            if (word + command.words.size() > m_spans.size())
                continue;
            bool matches = true;
            for (size_t i = 1; i < command.words.size() && matches; ++i)
                matches = view(key(word + i)) == command.words[i];
            if (matches)
                return &command;
        }
        return nullptr;
    }

    // The word's capitals, written over its copy at `out`.
    void capitalize(size_t word, QChar *out)
    {
        const Span span = m_spans[word];
        if (!m_capitals)
            return;
        if (const WordEntry *entry = lookUp(word); entry && !entry->capitalized.isNull()) {
            // Folding keeps lengths, so the table's form lines up with the word.
            const QString &form = entry->capitalized;
            for (qsizetype i = 0; i < span.size && i < form.size(); ++i) {
                if (form[i].isUpper())
                    out[i] = form[i];
            }
        }
        if (m_capitalizeNext)
            capitalizeFirst(out, span.size);
        m_capitalizeNext = endsSentence(m_text[span.start + span.size - 1]);
    }

    void appendWord(size_t word)
    {
        const Span span = m_spans[word];
        if (!m_glued)
            m_out.append(u' ');
        const qsizetype at = m_out.size();
        m_out.append(QStringView(m_text).mid(span.start, span.size));
        capitalize(word, m_out.data() + at);
        m_glued = false;
    }

    void appendCommand(const Command &command)
    {
        if (command.spaceBefore && !m_glued)
            m_out.append(u' ');
        m_out.append(command.text);
        m_glued = !command.spaceAfter;
        if (command.sentence == Sentence::ends)
            m_capitalizeNext = m_capitals;
        else if (command.sentence == Sentence::continues)
            m_capitalizeNext = false;
    }

    const QString &m_text;
    const Table &m_table;
    const bool m_capitals;
    const bool m_punctuation;
    bool m_capitalizeNext = false;
    // Nothing written yet, or a mark that takes no space after it.
    bool m_glued = true;
    QString m_folded;
    std::vector<Span> m_spans;
    QString m_out;
};

} // namespace

QString TextFormatter::format(const QString &text, const Context &context)
{
    if (!context.options.autoCapitalize && !context.options.spokenPunctuation)
        return text;
    const std::shared_ptr<const Table> table = tableFor(context.language);
    if (!table)
        return text;
    return Formatting(text, *table, context).run();
}

bool TextFormatter::supports(QStringView language)
{
    return tableFor(language) != nullptr;
}
