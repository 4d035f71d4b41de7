// A short guitar-like test phrase: a plucked minor-pentatonic lick, then a strummed
// open E minor chord left to ring. Deterministic: the same call gives the same samples.
#pragma once

#include <vector>

// The phrase at sample rate fs, peaking at 0.5 (-6 dBFS).
std::vector<float> synthesise_phrase(int fs);
