// crestmake: turns a 128x128 raw PPM into a crest logo file, or prints the
// logo palette as a plain PPM (-m).
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "crest.h"
#include "crest_file.h"
#include "crestmake_core.h"

static CrestPalette palette;
static CrestMatchTable match_table;
static char dump[CRESTMAKE_DUMP_SIZE + 1];
static uint8_t header[PPM_HEADER_SIZE];
static uint8_t pixels[CREST_RASTER_SIZE];
static uint8_t indices[CREST_FILE_SIZE];

static void fail(const char *message)
{
    fputs(message, stderr);
    exit(1);
}

int main(int argc, char **argv)
{
    crest_palette_build(&palette);
    switch (crestmake_mode(argc, argv)) {
    case CRESTMAKE_DUMP: {
        // A dump into a full disk or a closed pipe is lost: say so rather
        // than end as if the palette had been written.
        size_t len = (size_t)crestmake_dump(dump, &palette);
        if (fwrite(dump, 1, len, stdout) != len || fflush(stdout) != 0) {
            perror("stdout");
            return 1;
        }
        return 0;
    }
    case CRESTMAKE_USAGE:
        fprintf(stderr, "usage: %s infile outfile\n", argc > 0 ? argv[0] : "crestmake");
        return 1;
    case CRESTMAKE_CONVERT:
        break;
    }
    const char *infile = argv[1];
    const char *outfile = argv[2];

    int in = open(infile, O_RDONLY);
    if (in < 0) {
        perror(infile);
        exit(1);
    }
    if (crest_read_all(in, header, sizeof header) != (ssize_t)sizeof header)
        fail("cannot read ppm header\n");
    int data_offset = 0;
    PpmHeaderStatus status = ppm_parse_header(header, &data_offset);
    if (status != PPM_HEADER_OK)
        fail(ppm_header_message(status));
    // The header was read whole, so the raster is read again from where
    // the header really ended.  An input that cannot go back (a pipe, a
    // FIFO) would hand over the bytes after the first 1024 instead.
    if (lseek(in, data_offset, SEEK_SET) != (off_t)data_offset) {
        perror(infile);
        exit(1);
    }
    if (crest_read_all(in, pixels, sizeof pixels) != (ssize_t)sizeof pixels) {
        fprintf(stderr, "file size of %d bytes was expected\n", data_offset + CREST_RASTER_SIZE);
        exit(1);
    }
    close(in);

    crest_match_table_init(&match_table, &palette);
    crest_convert(pixels, indices, &match_table);

    // Only now, with the whole logo ready, is the output touched.
    int out = crest_open_output(outfile);
    if (out < 0 || !crest_write_all(out, indices, sizeof indices) || close(out) != 0) {
        perror(outfile);
        exit(1);
    }
    return 0;
}
