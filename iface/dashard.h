/* libdashard: the console's DMX output library. One entry point, DasCall. */
#ifndef DASHARD_H
#define DASHARD_H

#include <stdint.h>

#if defined(DASHARD_BUILD)
#define DAS_API __attribute__((visibility("default")))
#else
#define DAS_API
#endif

/* Commands. */
enum {
    DAS_CMD_OPEN = 1,  /* length 0, buffer NULL: open the configured output */
    DAS_CMD_CLOSE = 2, /* length 0, buffer NULL: close it; harmless when nothing is open */
    DAS_CMD_START = 3, /* length 0, buffer NULL: start output after a successful open */
    DAS_CMD_SEND = 4   /* length 512, buffer = 512 levels 0-255, channel 1 first */
};

/* Results: 0 or more is success; a negative result is one of these. */
enum {
    DAS_OK = 0,
    DAS_E_COMMAND = -1,     /* unknown command */
    DAS_E_ARGUMENT = -2,    /* length or buffer does not match the command */
    DAS_E_NOT_OPEN = -3,    /* send or start with no output open; nothing was sent */
    DAS_E_IO = -4,          /* the device or socket failed; the output is now closed */
    DAS_E_CONFIG = -5,      /* the output setting is malformed, or its file cannot be read */
    DAS_E_UNAVAILABLE = -6, /* the configured output cannot be opened (absent, refused, none) */
    DAS_E_INTERNAL = -99    /* an unexpected fault inside the library */
};

#define DAS_FRAME_SIZE 512

/* What the console's interface button says once an open has succeeded, and once it or a send has
   failed; reports of what the button would do quote them. */
#define DAS_CAPTION_OK "DAS OK"
#define DAS_CAPTION_NG "DAS NG"

#ifdef __cplusplus
extern "C" {
#endif

/* Validates the arguments, then opens, starts, sends to or closes the output chosen by the
   output setting, found at each open: the environment variable DASHARD_OUTPUT, else the first
   of $XDG_CONFIG_HOME/brivane/output and DIR/brivane/output for each DIR of $XDG_CONFIG_DIRS
   that holds one, else Art-Net to 127.0.0.1. Never blocks longer than 25 ms, or 1 s for
   DAS_CMD_OPEN. With DASHARD_TRACE naming a file, each call appends one line. */
DAS_API int32_t DasCall(int32_t command, int32_t length, uint8_t *buffer);

#ifdef __cplusplus
}
#endif

#endif
