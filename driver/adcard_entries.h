/* SPDX-License-Identifier: GPL-3.0-or-later */
/* The entries of a card driver library, written once.
 *
 * Every entry returns a 32-bit integer. A line gives the entry's name, its
 * parameters, and the same parameters as the arguments of a call, so that a
 * user of the list can declare an entry, define it or pass a call on:
 *
 *   #define DECLARE(name, params, args) int32_t name params;
 *   MOX_ADCARD_ENTRIES(DECLARE)
 *
 * The C prototypes (adcard_abi.h), the driver module's typed table and its
 * wrappers, the decorated Windows names with their argument sizes, the
 * exports of every card driver built here and the test tables all come from
 * these lines. Each parameter takes one 32-bit slot in the stdcall
 * convention; a 16-bit value is passed in the low half of its slot.
 * Needs <stdint.h>. */
#ifndef MOX_ADCARD_ENTRIES_H
#define MOX_ADCARD_ENTRIES_H

/* The entries the windows call. */
#define MOX_ADCARD_CALLED_ENTRIES(X)                                                                                   \
    X(Initial, (int32_t a, int32_t b, int32_t c, int32_t d), (a, b, c, d))                                             \
    X(IOCtl, (int32_t in_len, uint8_t * in, int32_t out_len, uint8_t * out), (in_len, in, out_len, out))               \
    X(StopIntr, (void), ())                                                                                            \
    X(StartIntr,                                                                                                       \
      (int16_t rate, int32_t block, int16_t first, int16_t count, int32_t depth, int32_t gain, int16_t trigger),       \
      (rate, block, first, count, depth, gain, trigger))                                                               \
    X(GetLastADError, (void), ())                                                                                      \
    X(ADResult_DV, (int32_t first, int32_t count, int32_t unit, int32_t mode, float n, float* results),                \
      (first, count, unit, mode, n, results))                                                                          \
    X(Mox_DA, (int16_t channel, int16_t code), (channel, code))                                                        \
    X(Mox_DO, (int16_t group, int16_t value), (group, value))                                                          \
    X(Mox_DOBit, (int16_t bit, int16_t value), (bit, value))                                                           \
    X(Mox_DI, (int32_t count, int16_t * inputs), (count, inputs))

/* Entries of the card's interface that the windows never call. */
#define MOX_ADCARD_OTHER_ENTRIES(X)                                                                                    \
    X(StartSnapshot, (int32_t a1, int32_t a2, int32_t a3, int32_t a4, int32_t a5, int32_t a6, int32_t a7, int32_t a8), \
      (a1, a2, a3, a4, a5, a6, a7, a8))                                                                                \
    X(RegisterNotify, (int32_t a1, int32_t a2, int32_t a3, int32_t a4, int32_t a5), (a1, a2, a3, a4, a5))              \
    X(QueryBuf, (void), ())                                                                                            \
    X(ADResult, (int32_t a1), (a1))                                                                                    \
    X(ADResultRecent, (int32_t a1), (a1))                                                                              \
    X(GetSnapshot, (int32_t a1, int32_t a2, int32_t a3), (a1, a2, a3))                                                 \
    X(ConfigInfo, (int32_t a1, int32_t a2, int32_t a3, int32_t a4, int32_t a5, int32_t a6, int32_t a7, int32_t a8),    \
      (a1, a2, a3, a4, a5, a6, a7, a8))                                                                                \
    X(ChannelFrq, (int32_t a1, int32_t a2), (a1, a2))                                                                  \
    X(Mox_ADResult, (int32_t a1, int32_t a2), (a1, a2))                                                                \
    X(Mox_Init, (int32_t a1, int32_t a2, int32_t a3), (a1, a2, a3))                                                    \
    X(Mox_USB_Inportb, (int32_t a1, int32_t a2, int32_t a3), (a1, a2, a3))                                             \
    X(Mox_USB_Outportb, (int32_t a1, int32_t a2, int32_t a3), (a1, a2, a3))                                            \
    X(Mox_Readb, (int32_t a1, int32_t a2, int32_t a3, int32_t a4), (a1, a2, a3, a4))                                   \
    X(Mox_Writeb, (int32_t a1, int32_t a2, int32_t a3, int32_t a4), (a1, a2, a3, a4))

#define MOX_ADCARD_ENTRIES(X) MOX_ADCARD_CALLED_ENTRIES(X) MOX_ADCARD_OTHER_ENTRIES(X)

/* Entries only the drivers built here export, beside the card's interface:
 * a caller looks them up when it finds them and does without otherwise (the
 * card maker's driver has none). They are not part of MOX_ADCARD_ENTRIES, so
 * nothing requires them; adcard.dll exports them under decorated stdcall
 * names like the others (_Mox_ReadingInfo@4). Their types are in
 * adcard_abi.h. An entry a line, as tools/check_windows.sh counts them. */
/* clang-format off */
#define MOX_ADCARD_OPTIONAL_ENTRIES(X)                                                                                 \
    X(Mox_ReadingInfo, (struct MoxReadingInfo * info), (info))
/* clang-format on */

#endif
