// Writes the pictures as PNG files through libpng.  Each goes to a
// temporary file of its own in the folder first, made with an exclusive
// name that no planted link can redirect, and takes its real name only once
// all three and the report are complete: a failure leaves the pictures of
// the run before as they were.
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "pictures.h"

// Writes img to f (closed here); returns "" or the reason, naming path.
static std::string write_png(const Image &img, FILE *f, const std::string &path)
{
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

// The process's file mode mask, which mkstemp's 0600 leaves out.
static mode_t current_umask()
{
    mode_t m = umask(0);
    umask(m);
    return m;
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

std::string pictures_prepare(const Scan &s, const std::string &dir, PictureFiles *files)
{
    *files = PictureFiles();
    std::string why = make_dir(dir);
    if (!why.empty())
        return why;
    const char *names[3] = {"waterfall.png", "eye.png", "lines.png"};
    for (int k = 0; k < 3 && why.empty(); k++) {
        files->finals[k] = dir + "/" + names[k];
        // mkstemp creates the file itself (O_CREAT | O_EXCL), which fails
        // on any name that exists, a link included.
        std::string tmpl = dir + "/." + names[k] + ".XXXXXX";
        int fd = mkstemp(&tmpl[0]);
        if (fd < 0) {
            why = tmpl + ": " + strerror(errno);
            break;
        }
        fchmod(fd, 0666 & ~current_umask());
        files->temps[k] = tmpl;
        files->count = k + 1;
        FILE *f = fdopen(fd, "wb");
        if (!f) {
            why = tmpl + ": " + strerror(errno);
            close(fd);
            break;
        }
        Image img = k == 0 ? render_waterfall(s) : k == 1 ? render_eye(s) : render_lines(s);
        why = write_png(img, f, files->finals[k]);
    }
    if (!why.empty())
        pictures_discard(files);
    return why;
}

std::string pictures_commit(PictureFiles *files)
{
    std::string why;
    for (int k = 0; k < files->count && why.empty(); k++)
        if (rename(files->temps[k].c_str(), files->finals[k].c_str()) != 0)
            why = files->finals[k] + ": " + strerror(errno);
        else
            files->temps[k].clear();
    pictures_discard(files);
    return why;
}

void pictures_discard(PictureFiles *files)
{
    for (int k = 0; k < files->count; k++)
        if (!files->temps[k].empty())
            unlink(files->temps[k].c_str());
    files->count = 0;
}
