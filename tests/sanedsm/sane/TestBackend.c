/* SANE backends for the tests, one device each, found through LD_LIBRARY_PATH:
 * "visaraslow" ("Slow Device") cannot scan; its device search takes
 *   VISARA_SLOW_SEARCH_MS milliseconds (3000 by default);
 * "visarawedge" ("Wedged Device", 64 x 64 grey) wedges by VISARA_WEDGE:
 *   "read": a line, then sane_read blocks for good and cancel is ignored;
 *   "quiet": a line, then nothing; non-blocking reads where asked, and a
 *           descriptor that only a cancel on the scanning thread makes ready;
 *   "lock": a paper jam, leaving a thread blocked in the C library's message
 *           lookup, holding its locks, on a catalogue that is a FIFO nobody
 *           writes: <VISARA_WEDGE_CATALOGUE>/C.UTF-8/LC_MESSAGES/visarawedge.mo. */
#define _GNU_SOURCE
#include <sane/sane.h>
#include <sane/saneopts.h>

#include <libintl.h>
#include <locale.h>
#include <pthread.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#pragma GCC diagnostic ignored "-Wunused-parameter"

/* BACKEND is visaraslow or visarawedge, SLOW 1 or 0. */
#define NAME_OF(b) #b
#define NAME(b) NAME_OF(b)
#define PASTE(b, name) sane_##b##_##name
#define ENTRY_OF(b, name) PASTE(b, name)
#define ENTRY(name) ENTRY_OF(BACKEND, name)

static const SANE_Device device = {NAME(BACKEND) ":0", "Visara", SLOW ? "Slow Device" : "Wedged Device",
                                   "virtual device"};
static const SANE_Device* devices[] = {&device, NULL};
static SANE_Option_Descriptor count = {SANE_NAME_NUM_OPTIONS, SANE_TITLE_NUM_OPTIONS, SANE_DESC_NUM_OPTIONS,
                                       SANE_TYPE_INT, SANE_UNIT_NONE, sizeof(SANE_Word), SANE_CAP_SOFT_DETECT,
                                       SANE_CONSTRAINT_NONE, {NULL}};
static int handle, delivered, nonBlocking, cancelled;
static int wake[2] = {-1, -1};
static pthread_t scanner;

static void* LookUpForGood(void* unused) {
    bindtextdomain("visarawedge", getenv("VISARA_WEDGE_CATALOGUE"));
    locale_t messages = newlocale(LC_MESSAGES_MASK, "C.UTF-8", (locale_t)0);
    if (messages) uselocale(messages);
    dcgettext("visarawedge", "never answered", LC_MESSAGES);
    return NULL;
}

static int Mode(const char* mode) {
    const char* m = getenv("VISARA_WEDGE");
    return strcmp(m ? m : "read", mode) == 0;
}

static void Sleep(long ms) {
    struct timespec t = {ms / 1000, (ms % 1000) * 1000000L};
    while (nanosleep(&t, &t) != 0) {
    }
}

SANE_Status ENTRY(init)(SANE_Int* version, SANE_Auth_Callback authorize) {
    if (version) *version = SANE_VERSION_CODE(1, 0, 0);
    return SANE_STATUS_GOOD;
}

void ENTRY(exit)(void) {}

SANE_Status ENTRY(get_devices)(const SANE_Device*** list, SANE_Bool localOnly) {
    const char* ms = getenv("VISARA_SLOW_SEARCH_MS");
    Sleep(!SLOW ? 0 : ms ? atol(ms) : 3000);
    *list = devices;
    return SANE_STATUS_GOOD;
}

SANE_Status ENTRY(open)(SANE_String_Const name, SANE_Handle* h) {
    if (name[0] && strcmp(name, device.name) != 0) return SANE_STATUS_INVAL;
    *h = &handle;
    return SANE_STATUS_GOOD;
}

void ENTRY(close)(SANE_Handle h) {}

const SANE_Option_Descriptor* ENTRY(get_option_descriptor)(SANE_Handle h, SANE_Int option) {
    return option == 0 ? &count : NULL;
}

SANE_Status ENTRY(control_option)(SANE_Handle h, SANE_Int option, SANE_Action action, void* value, SANE_Int* info) {
    if (info) *info = 0;
    if (option != 0 || action != SANE_ACTION_GET_VALUE) return SANE_STATUS_INVAL;
    *(SANE_Word*)value = 1;
    return SANE_STATUS_GOOD;
}

SANE_Status ENTRY(get_parameters)(SANE_Handle h, SANE_Parameters* p) {
    *p = (SANE_Parameters){SANE_FRAME_GRAY, SANE_TRUE, 64, 64, 64, 8};
    return SANE_STATUS_GOOD;
}

SANE_Status ENTRY(start)(SANE_Handle h) {
    if (SLOW) return SANE_STATUS_UNSUPPORTED;
    delivered = nonBlocking = cancelled = 0;
    scanner = pthread_self();
    return wake[0] < 0 && pipe(wake) != 0 ? SANE_STATUS_NO_MEM : SANE_STATUS_GOOD;
}

SANE_Status ENTRY(read)(SANE_Handle h, SANE_Byte* data, SANE_Int max, SANE_Int* length) {
    *length = 0;
    if (Mode("lock")) {
        pthread_t t;
        if (pthread_create(&t, NULL, LookUpForGood, NULL) == 0) pthread_detach(t);
        Sleep(300); /* until it is inside the lookup, which then never ends */
        return SANE_STATUS_JAMMED;
    }
    if (!delivered && max >= 64) {
        memset(data, 128, 64);
        *length = 64;
        delivered = 1;
        return SANE_STATUS_GOOD;
    }
    if (!Mode("quiet"))
        for (;;) pause();
    if (cancelled) return SANE_STATUS_CANCELLED;
    if (nonBlocking) return SANE_STATUS_GOOD;
    char byte;
    while (read(wake[0], &byte, 1) != 1) {
    }
    return SANE_STATUS_CANCELLED;
}

void ENTRY(cancel)(SANE_Handle h) {
    if (!Mode("quiet") || wake[1] < 0 || !pthread_equal(pthread_self(), scanner)) return;
    cancelled = 1;
    const char byte = 1;
    if (write(wake[1], &byte, 1) != 1) cancelled = 1;
}

SANE_Status ENTRY(set_io_mode)(SANE_Handle h, SANE_Bool on) {
    if (on && !Mode("quiet")) return SANE_STATUS_UNSUPPORTED;
    nonBlocking = on;
    return SANE_STATUS_GOOD;
}

SANE_Status ENTRY(get_select_fd)(SANE_Handle h, SANE_Int* fd) {
    if (!Mode("quiet")) return SANE_STATUS_UNSUPPORTED;
    *fd = wake[0];
    return SANE_STATUS_GOOD;
}
