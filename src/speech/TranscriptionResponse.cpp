#include "speech/TranscriptionResponse.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>

namespace
{

// An optional key: absent or null gives nothing; a value of another type
// than expected fails the whole object, as a strict decoder would.
template <typename T, typename Read>
bool readOptional(
    const QJsonObject &object, QLatin1StringView key, QJsonValue::Type type, Read read, std::optional<T> &out)
{
    const QJsonValue value = object.value(key);
    if (value.isUndefined() || value.isNull())
        return true;
    if (value.type() != type)
        return false;
    out = read(value);
    return true;
}

} // namespace

std::optional<TranscriptionResponse> TranscriptionResponse::decode(const QByteArray &json)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();

    const QJsonValue type = object.value(QLatin1StringView("type"));
    if (!type.isString())
        return std::nullopt;

    TranscriptionResponse response;
    response.type = type.toString();
    const auto asString = [](const QJsonValue &value) { return value.toString(); };
    const auto asBool = [](const QJsonValue &value) { return value.toBool(); };
    if (!readOptional(object, QLatin1StringView("text"), QJsonValue::String, asString, response.text)
        || !readOptional(object, QLatin1StringView("isFinal"), QJsonValue::Bool, asBool, response.isFinal)
        || !readOptional(object, QLatin1StringView("error"), QJsonValue::String, asString, response.error))
        return std::nullopt;
    return response;
}

QByteArray TranscriptionResponse::encode() const
{
    QJsonObject object;
    object.insert(QLatin1StringView("type"), type);
    if (text)
        object.insert(QLatin1StringView("text"), *text);
    if (isFinal)
        object.insert(QLatin1StringView("isFinal"), *isFinal);
    if (error)
        object.insert(QLatin1StringView("error"), *error);
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}
