#pragma once
#include <cstdint>

#include "caption.h"

// Slices one line of 2048 samples into a CaptionWord, deciding every bit on
// the mean of 32 samples.  Reads at most s[0] to s[1670]; 0 = no valid pair.
CaptionWord AveragingSlicer(const uint8_t *s);
