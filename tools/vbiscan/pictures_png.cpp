// Writes the pictures as PNG files through libpng.  Each goes to a
// temporary name in the folder first and takes its real name only once all
// three are complete, so that a failure leaves no picture behind.
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>

#include "pictures.h"

// Returns "" or the reason the file could not be written.
static std::string write_png(const Image &img, const std::string &path)
{
    FILE *f = fopen(path.c_str(), "wb");
    if (!f)
        return path + ": " + strerror(errno);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        fclose(f);
        return path + ": no memory for the picture";
    }
    std::vector<png_bytep> rows((size_t)img.height);
    for (int y = 0; y < img.height; y++)
        rows[(size_t)y] = (png_bytep)&img.rgb[(size_t)y * (size_t)img.width * 3];
    // libpng reports its errors by a long jump back here.
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        fclose(f);
        return path + ": cannot write the picture";
    }
    png_init_io(png, f);
    png_set_IHDR(png, info, (png_uint_32)img.width, (png_uint_32)img.height, 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    // The fastest compression and one fixed row filter: the waterfall of a
    // noisy line hardly compresses whatever is tried, and libpng's default
    // (every filter tried on every row, then deflate level 6) takes most of
    // a scan's time.
    png_set_compression_level(png, 1);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB);
    png_write_info(png, info);
    png_write_image(png, rows.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    if (fflush(f) != 0 || ferror(f)) {
        int e = errno;
        fclose(f);
        return path + ": " + strerror(e);
    }
    if (fclose(f) != 0)
        return path + ": " + strerror(errno);
    return "";
}

// mkdir -p: every missing folder on the way.
static std::string make_dir(const std::string &dir)
{
    for (size_t at = 1; at <= dir.size(); at++) {
        if (at < dir.size() && dir[at] != '/')
            continue;
        std::string part = dir.substr(0, at);
        if (mkdir(part.c_str(), 0777) != 0 && errno != EEXIST)
            return part + ": " + strerror(errno);
    }
    struct stat st;
    if (stat(dir.c_str(), &st) != 0)
        return dir + ": " + strerror(errno);
    if (!S_ISDIR(st.st_mode))
        return dir + ": " + strerror(ENOTDIR);
    return "";
}

std::string write_pictures(const Scan &s, const std::string &dir, std::vector<std::string> *written)
{
    std::string why = make_dir(dir);
    if (!why.empty())
        return why;
    const char *names[3] = {"waterfall.png", "eye.png", "lines.png"};
    std::string temps[3], finals[3];
    for (int k = 0; k < 3; k++) {
        finals[k] = dir + "/" + names[k];
        temps[k] = dir + "/." + names[k] + "." + std::to_string(getpid());
    }
    for (int k = 0; k < 3 && why.empty(); k++) {
        Image img = k == 0 ? render_waterfall(s) : k == 1 ? render_eye(s) : render_lines(s);
        why = write_png(img, temps[k]);
    }
    for (int k = 0; k < 3 && why.empty(); k++)
        if (rename(temps[k].c_str(), finals[k].c_str()) != 0)
            why = finals[k] + ": " + strerror(errno);
        else
            written->push_back(finals[k]);
    if (!why.empty()) {
        for (int k = 0; k < 3; k++)
            unlink(temps[k].c_str());
        for (const std::string &p : *written)
            unlink(p.c_str());
        written->clear();
    }
    return why;
}
