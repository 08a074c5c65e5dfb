// The workstation tools' line-21 slicer.  Where the three programs' slicers
// take their timing from the first crest of the clock run-in and decide
// each bit on one sample or a short window, this one
//
//   - finds the run-in wherever its first crest lies between samples 1 and
//     141 of the line (timing offsets of about -70 to +66 samples against
//     the nominal crest at 72.94), also when its first cycles fall before
//     the line's start;
//   - measures the clock's phase as a sinusoid fitted over all its cycles
//     that lie whole inside the line, so that noise on any one crest moves
//     the timing little;
//   - takes the decision threshold and the swing from that fit (the
//     run-in rises from the blanking level to the data level);
//   - integrates the start bit and each data bit over the central samples
//     of the bit;
//   - on a noisy line, takes the two levels from the bits as well as from
//     the run-in, and weighs each bit by its likelihood against the noise
//     measured on the line itself;
//   - checks the start bit and the odd parity of both bytes: a byte whose
//     parity fails is put right only when one of its bits is so much
//     nearer the threshold than the rest that it is surely the one
//     misread;
//   - refuses a line when the chance that the pair it would return is
//     wrong (two bits of a byte misread, a wrong bit put right, the
//     framing a bit off) is above one in a hundred.
//
// It is pure and allocation-free: a line in, a pair out.
#pragma once
#include <cstdint>

#include "caption.h"

enum IntegratingCause {
    INTEGRATING_OK,
    INTEGRATING_NO_RUNIN,   // no clock run-in, or none told clearly from its neighbours
    INTEGRATING_START_BIT,  // the start bit is not above the threshold
    INTEGRATING_PARITY,     // a byte has even parity, and no bit is surely the one misread
    INTEGRATING_WEAK,       // parity holds, but the bits are too weak to trust
};

// What the slicer measured on one line, for the tools to show.
struct IntegratingResult {
    IntegratingCause cause;
    // The 16 bits (bit 0 first on the line): the pair returned, or as read
    // when the line is refused for parity or weakness; 0 when no run-in or
    // no start bit.
    uint16_t raw;
    // Bits of the pair returned that the parity check put right (0 to 2).
    int corrected;
    // How sure the slicer is: the smallest distance, in levels, between a
    // bit's integrated level (start bit and 16 data bits) and the
    // threshold.  A clean line gives half its swing; 0 when there is no
    // start bit or no run-in.
    double margin;
    // The noise on an integrated bit level, in levels, as measured on the
    // line: from how much the thirds of each bit's window (and of the gap
    // before the start bit) differ.  0 when no bits were read.
    double noise;
    // The run-in as fitted (0 when none was found): position of its first
    // crest in samples from the line's start (may be below 0 when the line
    // cuts it), the blanking and crest levels of the fit, and the
    // threshold halfway between them.
    double first_crest;
    double blanking;
    double crest;
    double threshold;
    int cycles;  // run-in cycles that lay whole inside the line and were fitted
    // The chance, judged against the noise measured on the line, that the
    // pair decided is not the pair sent (0 on a line too clean to doubt).
    double doubt;
};

enum {
    INTEGRATING_LAST_SAMPLE = 1600,  // furthest sample the slicer may read
};

// Slices one line of 2048 samples (it reads s[0] to at most
// s[INTEGRATING_LAST_SAMPLE]).  Returns the pair (bits 0-6 first code,
// bit 7 its parity, bits 8-14 second code, bit 15 its parity), or 0 when
// it refuses the line; r (may be null) receives the reason and the
// measurements.
CaptionWord IntegratingSlicer(const uint8_t *line, IntegratingResult *r);
