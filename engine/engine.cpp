#include "engine/engine.h"

#include "engine/dbf/dbf4.h"
#include "engine/expr/evaluate.h"
#include "engine/index/ovndx.h"
#include "engine/memo/memo_area.h"
#include "engine/support/engine_state.h"

namespace ov {

void StartEngine() {
  EngineStartup();
  StartWorkAreas();
  InstallExpressionHooks();
  InstallMemoHooks();
  IndexInit();
}

void StopEngine() { EngineShutdown(); }

}  // namespace ov
