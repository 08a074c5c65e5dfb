// crestimg: turns a crest logo file back into a 128x128 raw PPM.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "crest.h"
#include "crest_file.h"
#include "crestimg_core.h"

static CrestPalette palette;
static uint8_t indices[CREST_FILE_SIZE];
static uint8_t pixels[CREST_RASTER_SIZE];

int main(int argc, char **argv)
{
    crest_palette_build(&palette);
    if (argc < 3) {
        fprintf(stderr, "usage: %s infile outfile\n", argc > 0 ? argv[0] : "crestimg");
        return 1;
    }
    const char *infile = argv[1];
    const char *outfile = argv[2];

    int in = open(infile, O_RDONLY);
    if (in < 0) {
        perror(infile);
        exit(1);
    }
    // Nothing marks a logo file; a file shorter than one is all that can
    // be told apart.  A longer one gives its first 16384 bytes.  A pipe
    // may hand the logo over in pieces: it is read until it ends.
    if (crest_read_all(in, indices, sizeof indices) != (ssize_t)sizeof indices) {
        fputs("input file not in crest format\n", stderr);
        exit(1);
    }
    close(in);

    crest_render(indices, pixels, &palette);

    int out = crest_open_output(outfile);
    if (out < 0 || !crest_write_all(out, CrestimgHeader, CRESTIMG_HEADER_SIZE) ||
        !crest_write_all(out, pixels, sizeof pixels) || close(out) != 0) {
        perror(outfile);
        exit(1);
    }
    return 0;
}
