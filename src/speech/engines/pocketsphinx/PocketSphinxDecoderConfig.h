#pragma once

#include <pocketsphinx.h>

// The one way a decoder is made from a model's three files, shared by the
// recognizer and the model probe so that what the probe accepts is exactly
// what the recognizer will load.
inline ps_decoder_t *makePocketSphinxDecoder(
    const char *acousticModel, const char *languageModel, const char *dictionary)
{
    cmd_ln_t *config = cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", acousticModel, "-lm", languageModel,
        "-dict", dictionary, "-logfn", "/dev/null", nullptr);
    if (!config)
        return nullptr;
    ps_decoder_t *ps = ps_init(config);
    cmd_ln_free_r(config);
    return ps;
}
