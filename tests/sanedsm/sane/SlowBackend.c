/* A SANE backend for the tests whose device search takes seconds, as a
 * stock configuration with network backends can: one device, found only
 * after VISARA_SLOW_SEARCH_MS milliseconds (3000 by default). Loaded by
 * SANE's dll backend as "visaraslow" from LD_LIBRARY_PATH. */
#include <sane/sane.h>
#include <sane/saneopts.h>

#include <stdlib.h>
#include <string.h>
#include <time.h>

static const SANE_Device device = {"visaraslow:0", "Visara", "Slow Device", "virtual device"};
static const SANE_Device* devices[] = {&device, NULL};
static SANE_Option_Descriptor count = {SANE_NAME_NUM_OPTIONS, SANE_TITLE_NUM_OPTIONS, SANE_DESC_NUM_OPTIONS,
                                       SANE_TYPE_INT, SANE_UNIT_NONE, sizeof(SANE_Word), SANE_CAP_SOFT_DETECT,
                                       SANE_CONSTRAINT_NONE, {NULL}};
static int handle;

SANE_Status sane_visaraslow_init(SANE_Int* version, SANE_Auth_Callback authorize) {
    (void)authorize;
    if (version) *version = SANE_VERSION_CODE(1, 0, 0);
    return SANE_STATUS_GOOD;
}

void sane_visaraslow_exit(void) {}

SANE_Status sane_visaraslow_get_devices(const SANE_Device*** list, SANE_Bool localOnly) {
    (void)localOnly;
    const char* ms = getenv("VISARA_SLOW_SEARCH_MS");
    const long delay = ms ? atol(ms) : 3000;
    struct timespec t = {delay / 1000, (delay % 1000) * 1000000L};
    while (nanosleep(&t, &t) != 0) {
    }
    *list = devices;
    return SANE_STATUS_GOOD;
}

SANE_Status sane_visaraslow_open(SANE_String_Const name, SANE_Handle* h) {
    if (name[0] && strcmp(name, device.name) != 0) return SANE_STATUS_INVAL;
    *h = &handle;
    return SANE_STATUS_GOOD;
}

void sane_visaraslow_close(SANE_Handle h) { (void)h; }

const SANE_Option_Descriptor* sane_visaraslow_get_option_descriptor(SANE_Handle h, SANE_Int option) {
    (void)h;
    return option == 0 ? &count : NULL;
}

SANE_Status sane_visaraslow_control_option(SANE_Handle h, SANE_Int option, SANE_Action action, void* value,
                                           SANE_Int* info) {
    (void)h;
    if (info) *info = 0;
    if (option != 0 || action != SANE_ACTION_GET_VALUE) return SANE_STATUS_INVAL;
    *(SANE_Word*)value = 1;
    return SANE_STATUS_GOOD;
}

SANE_Status sane_visaraslow_get_parameters(SANE_Handle h, SANE_Parameters* p) {
    (void)h;
    p->format = SANE_FRAME_GRAY;
    p->last_frame = SANE_TRUE;
    p->bytes_per_line = 8;
    p->pixels_per_line = 8;
    p->lines = 8;
    p->depth = 8;
    return SANE_STATUS_GOOD;
}

SANE_Status sane_visaraslow_start(SANE_Handle h) {
    (void)h;
    return SANE_STATUS_UNSUPPORTED;
}

SANE_Status sane_visaraslow_read(SANE_Handle h, SANE_Byte* data, SANE_Int max, SANE_Int* length) {
    (void)h;
    (void)data;
    (void)max;
    *length = 0;
    return SANE_STATUS_EOF;
}

void sane_visaraslow_cancel(SANE_Handle h) { (void)h; }

SANE_Status sane_visaraslow_set_io_mode(SANE_Handle h, SANE_Bool nonBlocking) {
    (void)h;
    return nonBlocking ? SANE_STATUS_UNSUPPORTED : SANE_STATUS_GOOD;
}

SANE_Status sane_visaraslow_get_select_fd(SANE_Handle h, SANE_Int* fd) {
    (void)h;
    (void)fd;
    return SANE_STATUS_UNSUPPORTED;
}
