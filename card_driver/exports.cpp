// SPDX-License-Identifier: GPL-3.0-or-later
// A card driver's entries over one card (driver_card.h): every card driver
// library built here has the same entries, each passed on to its card.
#include "adcard_abi.h"
#include "driver_card.h"

#include <cstdint>

namespace {

// Ignores the arguments of an entry this card does not implement.
template <typename... A>
std::int32_t Unimplemented(A...) {
    return 0;
}

} // namespace

// The entries the program calls go to the card; the further entries of the
// card's interface touch nothing and answer 0. Definitions take their C
// linkage and export from the prototypes in adcard_abi.h.
#define MOX_CARD_FORWARD(name, params, args)                                                                           \
    int32_t MOX_CARD_CALL name params { return DriverCard().name args; }
MOX_ADCARD_CALLED_ENTRIES(MOX_CARD_FORWARD)
#undef MOX_CARD_FORWARD

#define MOX_CARD_UNIMPLEMENTED(name, params, args)                                                                     \
    int32_t MOX_CARD_CALL name params { return Unimplemented args; }
MOX_ADCARD_OTHER_ENTRIES(MOX_CARD_UNIMPLEMENTED)
#undef MOX_CARD_UNIMPLEMENTED
