#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// The backend's answer to one upload. "type" is required; "text", "isFinal"
// and "error" may be absent (or null); other keys are ignored. A key present
// with the wrong JSON type makes the whole object undecodable.
struct TranscriptionResponse {
    QString type;
    std::optional<QString> text;
    std::optional<bool> isFinal;
    std::optional<QString> error;

    static std::optional<TranscriptionResponse> decode(const QByteArray &json);
    QByteArray encode() const;
};
