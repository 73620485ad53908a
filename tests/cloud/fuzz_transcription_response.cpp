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

#ifdef TELLWIND_FUZZ_REPLAY
// Without libFuzzer (g++ builds) the target replays its seed folders.
#include <QDir>
#include <QFile>

#include <cstdio>

int main(int argc, char *argv[])
{
    int inputs = 0;
    for (int i = 1; i < argc; ++i) {
        const QDir folder(QString::fromLocal8Bit(argv[i]));
        for (const QString &name : folder.entryList(QDir::Files)) {
            QFile file(folder.filePath(name));
            if (!file.open(QIODevice::ReadOnly))
                return 1;
            const QByteArray bytes = file.readAll();
            LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t *>(bytes.constData()), size_t(bytes.size()));
            ++inputs;
        }
    }
    std::printf("%d inputs replayed\n", inputs);
    return inputs > 0 ? 0 : 1;
}
#endif
