// The backend's replies are outside input: whatever bytes arrive, decoding
// must neither crash nor accept what it cannot give back unchanged.
#include "speech/TranscriptionResponse.h"

#include <QByteArray>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const std::optional<TranscriptionResponse> response = TranscriptionResponse::decode(bytes);
    if (!response)
        return 0;
    const std::optional<TranscriptionResponse> again = TranscriptionResponse::decode(response->encode());
    if (!again || again->type != response->type || again->text != response->text
        || again->isFinal != response->isFinal || again->error != response->error)
        std::abort();
    return 0;
}
