// Opens the display device's nodes and says what each open gave: a program
// that the stand-in must enter, built for the other word size too.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

int main()
{
    static const char *const nodes[] = {"/dev/vbi0", "/dev/mem", "/dev/fb0"};
    for (const char *node : nodes) {
        int fd = open(node, O_RDONLY);
        printf("%s %s\n", node, fd >= 0 ? "opened" : strerror(errno));
        if (fd >= 0)
            close(fd);
    }
    return 0;
}
