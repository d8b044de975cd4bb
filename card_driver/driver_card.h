// SPDX-License-Identifier: GPL-3.0-or-later
// The card a card driver library passes its entries to (exports.cpp),
// created at the first entry called. Each driver library defines it.
#pragma once

#include "card_api.h"

vcard::CardApi& DriverCard();
