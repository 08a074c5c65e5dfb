// The scanner's three pictures, drawn into RGB images in memory (the PNG
// files are written by pictures_png.cpp):
//   waterfall  line N of every block (thinned to at most 2000 rows), with a
//              column per caption program and one for the frame counter;
//   eye        the data bits of the decoded blocks laid over each other;
//   lines      the mean block, one band per line.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "scan_core.h"

struct Rgb {
    uint8_t r, g, b;
};

struct Image {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;  // rows top to bottom, 3 bytes a pixel
    Image(int w, int h, Rgb fill = {0, 0, 0});
    void set(int x, int y, Rgb c);  // ignores pixels outside
    Rgb at(int x, int y) const;
    void fill(int x0, int y0, int x1, int y1, Rgb c);  // [x0, x1) x [y0, y1)
};

// Draws text in the 5x7 font, each font pixel scale by scale pixels, with
// its top left corner at (x, y); returns the x after it.
int draw_text(Image *img, int x, int y, const std::string &text, Rgb c, int scale = 1);

// Layout of the waterfall: the time axis, the status columns, then the
// samples.
enum {
    WF_AXIS = 54,                      // the time axis: seconds and block numbers
    WF_COLUMN = 12,                    // width of a status column
    WF_COLUMN_STEP = 15,               // column plus gap
    WF_COLUMNS_X = WF_AXIS + 2,
    WF_SAMPLES_X = WF_COLUMNS_X + 4 * WF_COLUMN_STEP + 4,
    WF_HEADER = 40,                    // title and sample scale above the rows
};
extern const Rgb ColourDecoded, ColourRefused, ColourMixed, ColourIdle, ColourGap, ColourRepeat,
    ColourBackward;

Image render_waterfall(const Scan &s);
Image render_eye(const Scan &s);
Image render_lines(const Scan &s);

// The three pictures of a scan on their way into DIR: written to
// temporary files first, given their names DIR/waterfall.png, DIR/eye.png
// and DIR/lines.png only when the report is out too.
struct PictureFiles {
    std::string temps[3], finals[3];
    int count = 0;  // temporary files made
};
// Makes DIR when missing and writes the three temporary files; returns ""
// or the message for the user (nothing left behind then).
std::string pictures_prepare(const Scan &s, const std::string &dir, PictureFiles *files);
// Gives the temporary files their names; "" or the message.
std::string pictures_commit(PictureFiles *files);
// Removes the temporary files; the pictures already in DIR stay.
void pictures_discard(PictureFiles *files);
