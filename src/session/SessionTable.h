#pragma once

#include <array>

#include "session/SessionRecord.h"

namespace varnel {

// The connections seen by the last two polls. `current` is filled by the latest poll from slot 0
// on, `previous` holds the poll before (used only to carry first-seen times over), and
// `displayOrder` holds the first `rowCount` records of `current` in display order.
// Owned by the monitor; touched only by the tick's thread.
struct SessionTable {
    static constexpr int kSlots = 600;
    static constexpr int kMaxRows = 599;  // the 600th stored row is never shown

    std::array<SessionRecord, kSlots> current{};
    std::array<SessionRecord, kSlots> previous{};
    std::array<SessionRecord*, kSlots> displayOrder{};
    int rowCount = 0;
};

}  // namespace varnel
