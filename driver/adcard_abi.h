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

#define MOX_CARD_PROTOTYPE(name, params, args) MOX_CARD_API int32_t MOX_CARD_CALL name params;
MOX_ADCARD_ENTRIES(MOX_CARD_PROTOTYPE)
#undef MOX_CARD_PROTOTYPE

#ifdef __cplusplus
}
#endif

#endif
