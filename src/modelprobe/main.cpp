// tellwind-model-probe ACOUSTIC_MODEL LANGUAGE_MODEL DICTIONARY
//
// Loads a model and exits 0 when it loads. PocketSphinx ends the process on
// many a damaged file instead of returning an error, so Tellwind runs this
// first for every model that did not come with the system.
#include "speech/engines/pocketsphinx/PocketSphinxDecoderConfig.h"

#include <sphinxbase/err.h>

int main(int argc, char **argv)
{
    if (argc != 4)
        return 2;
    err_set_logfp(nullptr);
    ps_decoder_t *ps = makePocketSphinxDecoder(argv[1], argv[2], argv[3]);
    if (!ps)
        return 1;
    ps_free(ps);
    return 0;
}
