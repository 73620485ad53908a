#pragma once

// The dictation controller's two neighbours, as it sees them.
#include "output/DictationTyping.h"
#include "speech/DictationRecognizer.h"
