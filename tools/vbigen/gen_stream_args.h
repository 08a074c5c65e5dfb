// What the command line asks of a whole caption stream: SCC files, the
// caption mode and service for text, Extended Data Services.  Plain data
// (the generator's argument block is cleared with memset).
#pragma once
#include "line21.h"

enum GenMode { GEN_MODE_PLAIN, GEN_MODE_POP_ON, GEN_MODE_ROLL_UP, GEN_MODE_PAINT_ON, GEN_MODE_TEXT };

struct GenStreamArgs {
    const char *scc[2];           // --scc (field 1), --scc2 (field 2), or null
    GenMode mode;                 // --mode, plain when not given
    int rows;                     // --rows, 0 when not given (3)
    L21Service service;           // --channel
    bool service_set;
    const char *program_name;     // --xds-program-name, or null
    const char *network;          // --xds-network
    const char *call_letters;     // --xds-call-letters
    bool time_set;                // --xds-time
    L21XdsTime time;
};
