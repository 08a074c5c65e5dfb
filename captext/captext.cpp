// captext: prints the line-21 captions of the VBI device on standard error.
#include "averaging_slicer.h"
#include "caption.h"
#include "captext_rules.h"
#include "vbi.h"
#include "vbi_device.h"

static uint8_t block[VBI_BLOCK_SIZE];
static CaptionAssembler assembler;
static VbiDevice device;

int main()
{
    vbi_open(&device, "/dev/vbi0");
    caption_assembler_init(&assembler, CAPTEXT_FLUSH_AFTER, nullptr, 0);

    uint32_t last_counter = 0;
    while (!device.end) {
        if (!vbi_wait(&device, -1, nullptr))
            continue;
        vbi_read_block(&device, block);
        if (captext_takes_block(&last_counter, vbi_frame_counter(block)))
            add_word(&assembler, AveragingSlicer(block + VBI_CAPTION_LINE * VBI_LINE_SIZE));
    }
    return vbi_close(&device);
}
