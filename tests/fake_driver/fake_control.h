/* SPDX-License-Identifier: GPL-3.0-or-later */
/* Control entries of the test driver, reached by the tests through the
 * loaded library (see FakeDriver in fake_driver_client.h). */
#ifndef MOX_FAKE_CONTROL_H
#define MOX_FAKE_CONTROL_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define FAKE_API __attribute__((visibility("default")))
FAKE_API void fake_reset(void);
FAKE_API const char* fake_log(void);
FAKE_API void fake_clear_log(void);
FAKE_API void fake_set_return(const char* entry, int32_t value);
FAKE_API void fake_set_reply(uint8_t command, const uint8_t* bytes, int32_t n);
FAKE_API void fake_set_results(const float* values, int32_t n);
FAKE_API void fake_set_inputs(int16_t element0, int16_t element1);

#ifdef __cplusplus
}
#endif

#endif
