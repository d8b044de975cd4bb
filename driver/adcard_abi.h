/* The binary interface every card driver library exports: the virtual
 * card, test fakes and any other driver, so that one can stand in for
 * another. On Linux the entries carry their plain names and the platform's
 * default calling convention; 32-bit Windows drivers use stdcall, whose
 * decorated names (_Initial@16, ...) the driver module looks up there. */
#ifndef MOX_ADCARD_ABI_H
#define MOX_ADCARD_ABI_H

#include <stdint.h>

#if defined(_WIN32) && defined(MOX_CARD_EXPORTS_BY_DEF)
#define MOX_CARD_API /* exported under decorated names by a .def file */
#elif defined(_WIN32)
#define MOX_CARD_API __declspec(dllexport)
#else
#define MOX_CARD_API __attribute__((visibility("default")))
#endif
#if defined(_WIN32) && !defined(_WIN64)
#define MOX_CARD_CALL __stdcall
#else
#define MOX_CARD_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

MOX_CARD_API int32_t MOX_CARD_CALL Initial(int32_t, int32_t, int32_t, int32_t);
MOX_CARD_API int32_t MOX_CARD_CALL IOCtl(int32_t in_len, uint8_t* in, int32_t out_len, uint8_t* out);
MOX_CARD_API int32_t MOX_CARD_CALL StopIntr(void);
MOX_CARD_API int32_t MOX_CARD_CALL StartIntr(int16_t, int32_t, int16_t, int16_t, int32_t, int32_t, int16_t);
MOX_CARD_API int32_t MOX_CARD_CALL GetLastADError(void);
MOX_CARD_API int32_t MOX_CARD_CALL ADResult_DV(int32_t first, int32_t count, int32_t unit, int32_t mode, float n,
                                               float* results);
MOX_CARD_API int32_t MOX_CARD_CALL Mox_DA(int16_t channel, int16_t code);
MOX_CARD_API int32_t MOX_CARD_CALL Mox_DO(int16_t group, int16_t value);
MOX_CARD_API int32_t MOX_CARD_CALL Mox_DOBit(int16_t bit, int16_t value);
MOX_CARD_API int32_t MOX_CARD_CALL Mox_DI(int32_t count, int16_t* inputs);

MOX_CARD_API int32_t MOX_CARD_CALL StartSnapshot(int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t,
                                                 int32_t);
MOX_CARD_API int32_t MOX_CARD_CALL RegisterNotify(int32_t, int32_t, int32_t, int32_t, int32_t);
MOX_CARD_API int32_t MOX_CARD_CALL QueryBuf(void);
MOX_CARD_API int32_t MOX_CARD_CALL ADResult(int32_t);
MOX_CARD_API int32_t MOX_CARD_CALL ADResultRecent(int32_t);
MOX_CARD_API int32_t MOX_CARD_CALL GetSnapshot(int32_t, int32_t, int32_t);
MOX_CARD_API int32_t MOX_CARD_CALL ConfigInfo(int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t);
MOX_CARD_API int32_t MOX_CARD_CALL ChannelFrq(int32_t, int32_t);
MOX_CARD_API int32_t MOX_CARD_CALL Mox_ADResult(int32_t, int32_t);
MOX_CARD_API int32_t MOX_CARD_CALL Mox_Init(int32_t, int32_t, int32_t);
MOX_CARD_API int32_t MOX_CARD_CALL Mox_USB_Inportb(int32_t, int32_t, int32_t);
MOX_CARD_API int32_t MOX_CARD_CALL Mox_USB_Outportb(int32_t, int32_t, int32_t);
MOX_CARD_API int32_t MOX_CARD_CALL Mox_Readb(int32_t, int32_t, int32_t, int32_t);
MOX_CARD_API int32_t MOX_CARD_CALL Mox_Writeb(int32_t, int32_t, int32_t, int32_t);

#ifdef __cplusplus
}
#endif

#endif
