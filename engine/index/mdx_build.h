// The index builder's core: scan, sort (with spilled runs and their
// merge) and tree write for one tag. See umakemdx.h for the whole build.
#pragma once

#include <cstdint>
#include <string>

#include "engine/expr/expr_types.h"
#include "engine/index/keycomp.h"
#include "engine/index/umakemdx.h"

namespace ov {

struct WorkArea;

struct BuildSpec {
  KeyFormat format;
  bool unique = false;
  CompiledExpr* key = nullptr;
  CompiledExpr* cond = nullptr;  // none: every record
};

struct BuildResult {
  uint32_t root = 0;
  bool has_keys = false;
};

// A failure the caller reports (the context ends in " [MakeIndex]").
struct BuildFailure {
  uint16_t code = 0;
  std::string context;
};

// Writes the tag's nodes at the end of target's file (target.size moves
// on); false with `failure` set when the build failed.
bool BuildTree(WorkArea& area, const BuildSpec& spec, MdxTarget& target, BuildResult& result, BuildFailure& failure);

}  // namespace ov
