/* SPDX-License-Identifier: GPL-3.0-or-later */
/* The binary interface every card driver library exports: the virtual
 * card, test drivers and any other driver, so that one can stand in for
 * another. On Linux the entries carry their plain names and the platform's
 * default calling convention; 32-bit Windows drivers use stdcall, whose
 * decorated names (_Initial@16, ...) the driver module looks up there.
 * The entries themselves are listed in adcard_entries.h. */
#ifndef MOX_ADCARD_ABI_H
#define MOX_ADCARD_ABI_H

#include <stdint.h>

#include "adcard_entries.h"

#if defined(_WIN32) && defined(MOX_CARD_EXPORTS_BY_DEF)
#define MOX_CARD_API /* exported under decorated names by a .def file */
#elif defined(_WIN32) && defined(MOX_CARD_BUILDING_DRIVER)
#define MOX_CARD_API __declspec(dllexport)
#elif defined(_WIN32)
#define MOX_CARD_API
#else
#define MOX_CARD_API __attribute__((visibility("default")))
#endif

/* The entries' calling convention: stdcall on 32-bit Windows. */
#if defined(_WIN32) && !defined(_WIN64)
#define MOX_CARD_CALL __stdcall
#else
#define MOX_CARD_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* What Mox_ReadingInfo tells: the last ADResult_DV call of the calling
 * thread that returned readings, and the card restarts the driver found.
 * A reading a network driver keeps may have been asked of the card some
 * time before it was returned: its age counts from when it was asked. Two
 * readings are the same one when asked_us is the same; a later asked_us is
 * a newer reading. The fields are laid out without padding on every
 * platform (32 bytes). */
struct MoxReadingInfo {
    int32_t size;                  /* in: sizeof(struct MoxReadingInfo) as the caller knows it */
    int32_t has_reading;           /* 1: this thread's ADResult_DV has returned readings; 0: the times are 0 */
    int64_t asked_us;              /* when that reading was asked, microseconds on the driver's monotonic clock */
    int64_t age_us;                /* its age at this call, counted from when it was asked */
    uint32_t card_restarts;        /* times the driver found the card stopped after it had been acquiring */
    uint32_t acquisition_restarts; /* times the driver then started acquisition again and the card took it */
};

#define MOX_CARD_PROTOTYPE(name, params, args) MOX_CARD_API int32_t MOX_CARD_CALL name params;
MOX_ADCARD_ENTRIES(MOX_CARD_PROTOTYPE)
/* Mox_ReadingInfo(info): 1 with *info filled; 0 for a null info or a size
 * smaller than this structure, nothing written then. */
MOX_ADCARD_OPTIONAL_ENTRIES(MOX_CARD_PROTOTYPE)
#undef MOX_CARD_PROTOTYPE

#ifdef __cplusplus
}
#endif

#endif
