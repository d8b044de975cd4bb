// SPDX-License-Identifier: GPL-3.0-or-later
// A card driver for tests: the virtual card, answering every request, that
// refuses readings (ADResult_DV answers 0, as a card does that is not
// acquiring) while the file named by MOX_TEST_REFUSE_FILE exists. Built
// from the card's entries alone, like a driver that is not ours: it tells
// nothing of when readings were asked or of restarts.
#include "card_model.h"
#include "driver_card.h"

#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <system_error>

namespace {

bool Refusing() {
    const char* path = std::getenv("MOX_TEST_REFUSE_FILE");
    std::error_code ec;
    return path != nullptr && std::filesystem::exists(path, ec);
}

class RefusingCard final : public vcard::CardApi {
public:
#define MOX_REFUSING_FORWARD(name, number, effect, kind, params, args)                                                 \
    std::int32_t name params override {                                                                                \
        if (std::string_view(#name) == "ADResult_DV" && Refusing()) return 0;                                          \
        return card_.name args;                                                                                        \
    }
    MOX_CARD_OPS(MOX_REFUSING_FORWARD)
#undef MOX_REFUSING_FORWARD

private:
    vcard::VirtualCard card_;
};

} // namespace

vcard::CardApi& DriverCard() {
    static RefusingCard card;
    return card;
}
