#include "engine/engine.h"

#include "engine/dbf/dbf4.h"
#include "engine/expr/evaluate.h"
#include "engine/memo/memo_area.h"
#include "engine/support/engine_state.h"

namespace ov {

void StartEngine() {
  EngineStartup();
  StartWorkAreas();
  InstallExpressionHooks();
  InstallMemoHooks();
}

void StopEngine() { EngineShutdown(); }

}  // namespace ov
