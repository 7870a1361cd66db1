#include "engine/engine.h"

#include "engine/dbf/dbf4.h"
#include "engine/memo/memo.h"
#include "engine/support/engine_state.h"

namespace ov {

void StartEngine() {
  EngineStartup();
  StartWorkAreas();
  InstallMemoHooks();
}

void StopEngine() { EngineShutdown(); }

}  // namespace ov
