// fbpalette: loads the logo palette into the frame buffer's colour map.
#include <fcntl.h>
#include <linux/fb.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "fb_colormap.h"

int main(int argc, char **argv)
{
    // The whole map is ready before the device is touched, and goes in as
    // one request, so the screen never shows a half-loaded palette.
    uint16_t red[FB_CMAP_SIZE], green[FB_CMAP_SIZE], blue[FB_CMAP_SIZE];
    fb_colormap_build(red, green, blue);

    int fd = open("/dev/fb0", O_RDWR);
    if (fd < 0) {
        // Normally run without arguments: then only the system's message.
        perror(argc > 1 ? argv[1] : nullptr);
        exit(1);
    }

    struct fb_cmap cmap;
    cmap.start = 0;
    cmap.len = FB_CMAP_SIZE;
    cmap.red = red;
    cmap.green = green;
    cmap.blue = blue;
    cmap.transp = nullptr;
    // A driver that refuses the map leaves the old colours on screen; that
    // is a failure the caller must hear about.
    if (ioctl(fd, FBIOPUTCMAP, &cmap) < 0) {
        perror("FBIOPUTCMAP /dev/fb0");
        close(fd);
        exit(1);
    }
    close(fd);
    return 0;
}
