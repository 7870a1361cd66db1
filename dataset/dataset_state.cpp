#include "dataset/dataset_state.h"

#include <memory>

#include "engine/support/engine_state.h"

namespace ov {

DatasetState& DatasetGlobals() {
  std::shared_ptr<DatasetState>& s = Engine().dataset;
  if (!s) s = std::make_shared<DatasetState>();
  return *s;
}

}  // namespace ov
