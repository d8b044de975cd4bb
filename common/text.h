// SPDX-License-Identifier: GPL-3.0-or-later
// The text that the window's trend export and moxctl both write: times,
// values, the card's identity and the column line of readings. One
// implementation, so that a file from either reads the same way.
//
// No Qt, and no time zone or locale of the machine takes part: the calendar
// is computed, not asked of the C library (which differs between Linux and
// Windows and has no thread-safe UTC conversion on both).
#pragma once

#include "card_io.h"

#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace mox {

// "2026-12-07T13:23:18.200Z": UTC with milliseconds, before 1970 too. A time
// between two milliseconds is written as the earlier one, as a clock shows it.
std::string IsoUtc(std::int64_t msSinceEpoch);
std::string IsoUtc(std::chrono::system_clock::time_point t);
// "20261207T113000Z": UTC to the second, for file names.
std::string CompactUtc(std::chrono::system_clock::time_point t);

// Time on a monotonic clock since the program started: never set back, so
// rows of one run can be ordered and spaced by it whatever the wall clock did.
std::chrono::milliseconds SinceStart();
// "12.345": seconds with three decimals, from milliseconds.
std::string SecondsText(std::int64_t ms);

// The shortest text that reads back as the same value ("nan", "inf" and
// "-inf" for those).
std::string ShortestText(float v);
std::string ShortestText(double v);

// "card 7710, type 1, speed 100K, resolution 16 bits"
std::string IdentityText(const CardIdentity& id);

// The columns of a CSV of readings: "utc,monotonic_s" (the two times above),
// then one column per channel in the window's numbering, "AI00".."AI31", or
// with codes and volts side by side "AI00_code,AI00_volts,...". Without a
// line feed. Channels outside 0..31 are left out.
std::string ChannelName(int channel);
std::string ReadingsColumns(std::span<const int> channels, bool codes, bool volts);
// Every channel 0..31, in order.
std::string ReadingsColumns(bool codes, bool volts);

// Text for an XML attribute or element: the five special characters as
// entities, and the control characters XML 1.0 cannot carry at all (from a
// driver's message, say) as '?', so a report is always well-formed.
std::string XmlText(std::string_view text);

} // namespace mox
