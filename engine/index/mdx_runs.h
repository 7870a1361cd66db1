// Sorting for the index builder: a batch of (key, record) pairs sorted
// through a pointer array, and the temporary run file that holds sorted
// batches when they outgrow memory, merged back in index order.
//
// A pair is the key (key length bytes) and the record number (4 bytes,
// little-endian); the run file holds runs of pairs back to back. It is
// made in the temporary directory on the first spill and deleted when the
// RunFile goes, however the build ends.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/index/keycomp.h"
#include "engine/support/platform.h"

namespace ov {

struct BuildFailure;

class PairBatch {
 public:
  PairBatch(const KeyFormat& format, size_t capacity);
  bool full() const { return order_.size() >= capacity_; }
  size_t size() const { return order_.size(); }
  // Pairs arrive in ascending record order.
  void Add(const uint8_t* key, uint32_t record);
  // Quicksort of the pointers (median of three); equal keys keep record
  // order. The pairs themselves never move.
  void Sort();
  // Calls `emit` with each pair in sorted order until it answers false.
  bool ForEach(const std::function<bool(const uint8_t* pair)>& emit) const;
  void Clear();
  const KeyFormat& format() const { return format_; }

 private:
  KeyFormat format_;
  size_t pair_size_;
  size_t capacity_;
  std::vector<uint8_t> pool_;
  std::vector<uint32_t> order_;
};

class RunFile {
 public:
  RunFile() = default;
  ~RunFile();
  RunFile(const RunFile&) = delete;
  RunFile& operator=(const RunFile&) = delete;

  bool empty() const { return runs_.empty(); }
  const std::string& name() const { return name_; }
  [[nodiscard]] bool Create(BuildFailure& f);
  // Appends a sorted batch as one run.
  [[nodiscard]] bool Write(const PairBatch& batch, BuildFailure& f);
  // Merges all runs in index order (equal keys: lower record first) into
  // `emit`, with about `memory` bytes of read buffers in all.
  [[nodiscard]] bool Merge(int64_t memory, const std::function<bool(const uint8_t* pair)>& emit, BuildFailure& f);

 private:
  struct Run {
    uint64_t offset = 0;
    uint64_t pairs = 0;
  };
  std::string name_;
  std::unique_ptr<File> file_;
  uint64_t size_ = 0;
  std::vector<Run> runs_;
  KeyFormat format_;
};

}  // namespace ov
