#include "speech/TranscriptionResponse.h"

std::optional<TranscriptionResponse> TranscriptionResponse::decode(const QByteArray &)
{
    return std::nullopt;
}

QByteArray TranscriptionResponse::encode() const
{
    return {};
}
