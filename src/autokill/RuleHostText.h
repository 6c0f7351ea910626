#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "session/HostNameSource.h"

namespace varnel {

// The host text the rules read for one side of a connection. Unlike the list's cell it is the whole
// name, however long, and a name still being looked up holds a cut back only for a while:
// - resolution off (no source): the address text;
// - name known: the name, or the address text when the lookup found none;
// - not known yet, connection first seen less than kPendingHoldMs ago: "(address)", which holds a
//   rule on that host back (RuleEvaluator);
// - not known yet and older: the address text, as for a lookup that failed. The list may still
//   show "(address)" until the lookup really ends.
// "Older" allows kTickJitterMs: the tick due two seconds after the first sighting may read its
// clock a little early, and a hold must not run on to the tick after it.
// `firstSeen` and `now` are ticks of the monitor's clock (subtracted as unsigned 32-bit values).
// With `startLookup` false the source is only asked what it knows (PeekHostName), so an unknown
// name is not looked up; the text is the same either way. Returns false when the name is not known
// (a lookup could still change the text), true when it is or resolution is off.
// Reuses the capacity of `out`. Tick's thread only (the source's rule).
bool RuleHostText(HostNameSource* source, std::string_view address, uint32_t firstSeen, uint32_t now,
                  std::string& out, bool startLookup = true);

inline constexpr uint32_t kPendingHoldMs = 2000;
inline constexpr uint32_t kTickJitterMs = 50;

}  // namespace varnel
