// What a peer's selection index pulls, in words for the fotelloctl listings.
#pragma once

#include <cstdint>

namespace fotello {

// "all photos", "checked albums only", "last 30 days or checked albums"...; an index outside 0 to
// 6 pulls what 1 does.
inline const char* selectionText(int32_t index) {
  switch (index) {
    case 0: return "all photos";
    case 2: return "last 30 days or checked albums";
    case 3: return "last 60 days or checked albums";
    case 4: return "last 90 days or checked albums";
    case 5: return "last 180 days or checked albums";
    case 6: return "last 365 days or checked albums";
    default: return "checked albums only";
  }
}

}  // namespace fotello
