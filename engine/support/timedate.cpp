#include "engine/support/timedate.h"

#include "engine/support/engine_state.h"
#include "engine/support/platform.h"

namespace ov {

void InitDateSettings() {
  DateSettings& d = Engine().dates;
  d.EpochYear = static_cast<uint16_t>(CurrentEnv()->Today().year - 70);
}

}  // namespace ov
