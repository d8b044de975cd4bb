// SPDX-License-Identifier: GPL-3.0-or-later
// The card behind the driver module: each entry passed to the card driver
// library that DllDef loaded, with buffers as large as the program's own
// (so a driver that writes more than it was asked for writes into space of
// ours), and no more than the declared lengths copied back. A count or
// length larger than the buffer the driver would be handed is refused (the
// call returns 0 and the driver is not called): a driver may write as much
// as it is told.
#pragma once

#include "card_api.h"

namespace bridge {

class DriverModuleCard final : public vcard::CardApi {
public:
    // The driver's entries: the library DllDef loads, or (the tests and the
    // fuzzer) a driver of their own making.
    explicit DriverModuleCard(vcard::CardApi* entries = nullptr) : entries_(entries) {}

    MOX_CARD_OVERRIDES

private:
    vcard::CardApi* entries_;
};

} // namespace bridge
