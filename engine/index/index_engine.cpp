#include "engine/index/index_engine.h"

namespace ov {

IndexEngineState& IndexEngine() {
  std::shared_ptr<IndexEngineState>& s = Engine().index;
  if (!s) s = std::make_shared<IndexEngineState>();
  return *s;
}

}  // namespace ov
