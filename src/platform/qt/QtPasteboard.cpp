#include "platform/qt/QtPasteboard.h"

#include "common/NextSignal.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QPointer>
#include <QSet>

#include <functional>

namespace
{

// Serves a text and tells when somebody other than us asked for it: Qt reads
// the data through retrieveData only to answer another client's request.
class TrackedMimeData : public QMimeData
{
public:
    explicit TrackedMimeData(std::function<void()> onRead)
        : m_onRead(std::move(onRead))
    {
    }

protected:
    QVariant retrieveData(const QString &mimeType, QMetaType type) const override
    {
        if (m_onRead)
            QMetaObject::invokeMethod(qApp, m_onRead, Qt::QueuedConnection);
        return QMimeData::retrieveData(mimeType, type);
    }

private:
    std::function<void()> m_onRead;
};

// Names of the selection protocol itself and formats Qt makes up from others;
// carrying them over would advertise them twice or serve nonsense.
bool isCopyableFormat(const QString &format)
{
    static const QSet<QString> protocol = {
        QStringLiteral("TARGETS"),
        QStringLiteral("MULTIPLE"),
        QStringLiteral("TIMESTAMP"),
        QStringLiteral("SAVE_TARGETS"),
        QStringLiteral("DELETE"),
        QStringLiteral("INSERT_SELECTION"),
        QStringLiteral("INSERT_PROPERTY"),
        QStringLiteral("application/x-qt-image"),
    };
    return !format.isEmpty() && !protocol.contains(format);
}

QClipboard *clipboard()
{
    return qobject_cast<QGuiApplication *>(QCoreApplication::instance()) ? QGuiApplication::clipboard()
                                                                         : nullptr;
}

} // namespace

PasteboardContents QtPasteboard::contents() const
{
    PasteboardContents result;
    QClipboard *board = clipboard();
    const QMimeData *data = board ? board->mimeData(QClipboard::Clipboard) : nullptr;
    if (!data)
        return result;
    const QStringList formats = data->formats();
    for (const QString &format : formats) {
        if (!isCopyableFormat(format))
            continue;
        const QByteArray bytes = data->data(format);
        if (!bytes.isNull())
            result.formats.append({ format, bytes });
    }
    return result;
}

void QtPasteboard::setText(const QString &text)
{
    QClipboard *board = clipboard();
    if (!board)
        return;
    const quint64 generation = ++m_generation;
    m_reads = 0;
    QPointer<QtPasteboard> self(this);
    auto *data = new TrackedMimeData([self, generation] {
        if (self)
            self->countRead(generation);
    });
    data->setText(text);
    board->setMimeData(data, QClipboard::Clipboard);
}

void QtPasteboard::setContents(const PasteboardContents &contents)
{
    QClipboard *board = clipboard();
    if (!board)
        return;
    ++m_generation;
    if (contents.isEmpty()) {
        board->clear(QClipboard::Clipboard);
        return;
    }
    auto *data = new QMimeData;
    for (const auto &[format, bytes] : contents.formats)
        data->setData(format, bytes);
    board->setMimeData(data, QClipboard::Clipboard);
}

QCoro::Task<bool> QtPasteboard::waitForRead(int seen, std::chrono::milliseconds timeout)
{
    if (m_reads > seen)
        co_return true;
    QPointer<QtPasteboard> self(this);
    co_await nextSignal(this, &QtPasteboard::read, timeout);
    co_return self && self->m_reads > seen;
}

void QtPasteboard::countRead(quint64 generation)
{
    if (generation != m_generation)
        return;
    ++m_reads;
    emit read();
}
