#include "engine/index/mdx_runs.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "engine/index/mdx_build.h"
#include "engine/support/coding.h"
#include "engine/support/error_codes.h"

namespace ov {

namespace {

constexpr ptrdiff_t kSmallPartition = 16;
constexpr size_t kWriteChunk = 65512;
constexpr size_t kMaxRunBuffer = 65280;

// Pairs by key in index order, then by record number.
int ComparePairs(const KeyFormat& f, const uint8_t* a, const uint8_t* b) {
  const int c = CompareKeys(f, a, b);
  if (c != 0) return c;
  const uint32_t ra = GetLe32(a + f.length), rb = GetLe32(b + f.length);
  return ra < rb ? -1 : ra > rb ? 1 : 0;
}

// A pointer with the first bytes of its key, most significant first.
struct Tagged {
  uint64_t prefix;
  uint32_t index;
};

template <typename T, typename Less>
void InsertionSort(T* a, ptrdiff_t n, Less less) {
  for (ptrdiff_t i = 1; i < n; ++i) {
    const T v = a[i];
    ptrdiff_t j = i;
    for (; j > 0 && less(v, a[j - 1]); --j) a[j] = a[j - 1];
    a[j] = v;
  }
}

// Quicksort with the median of first, middle and last as pivot; recursion
// on the smaller side keeps the stack shallow.
template <typename T, typename Less>
void QuickSort(T* a, ptrdiff_t n, Less less) {
  while (n > kSmallPartition) {
    T *lo = a, *mid = a + n / 2, *hi = a + n - 1;
    if (less(*mid, *lo)) std::swap(*mid, *lo);
    if (less(*hi, *mid)) std::swap(*hi, *mid);
    if (less(*mid, *lo)) std::swap(*mid, *lo);
    const T pivot = *mid;
    ptrdiff_t i = -1, j = n;
    for (;;) {
      do ++i;
      while (less(a[i], pivot));
      do --j;
      while (less(pivot, a[j]));
      if (i >= j) break;
      std::swap(a[i], a[j]);
    }
    const ptrdiff_t left = j + 1;
    if (left < n - left) {
      QuickSort(a, left, less);
      a += left;
      n -= left;
    } else {
      QuickSort(a + left, n - left, less);
      n = left;
    }
  }
  InsertionSort(a, n, less);
}

}  // namespace

PairBatch::PairBatch(const KeyFormat& format, size_t capacity)
    : format_(format), pair_size_(format.length + 4u), capacity_(capacity) {
  pool_.resize(capacity * pair_size_);
  order_.reserve(capacity);
}

void PairBatch::Add(const uint8_t* key, uint32_t record) {
  const size_t n = order_.size();
  uint8_t* at = &pool_[n * pair_size_];
  std::memcpy(at, key, format_.length);
  PutLe32(at + format_.length, record);
  order_.push_back(static_cast<uint32_t>(n));
}

void PairBatch::Sort() {
  const uint8_t* base = pool_.data();
  const size_t ps = pair_size_;
  const uint16_t len = format_.length;
  // Pairs were added in record order, so the pointer order breaks ties.
  if (format_.type != 'C') {
    const KeyFormat f = format_;
    QuickSort(order_.data(), static_cast<ptrdiff_t>(order_.size()), [=](uint32_t x, uint32_t y) {
      const int c = CompareKeys(f, base + x * ps, base + y * ps);
      return c < 0 || (c == 0 && x < y);
    });
    return;
  }
  // Character keys: each pointer travels with its key's first eight bytes,
  // so most comparisons never reach the pairs themselves.
  const bool down = format_.descending;
  std::vector<Tagged> tagged(order_.size());
  for (size_t i = 0; i < order_.size(); ++i) {
    uint8_t head[8] = {};
    std::memcpy(head, base + order_[i] * ps, std::min<size_t>(8, len));
    uint64_t prefix = 0;
    for (const uint8_t b : head) prefix = prefix << 8 | b;
    tagged[i] = {down ? ~prefix : prefix, order_[i]};
  }
  QuickSort(tagged.data(), static_cast<ptrdiff_t>(tagged.size()), [=](const Tagged& x, const Tagged& y) {
    if (x.prefix != y.prefix) return x.prefix < y.prefix;
    const int c = len <= 8 ? 0 : std::memcmp(base + x.index * ps + 8, base + y.index * ps + 8, len - 8u);
    return (down ? c > 0 : c < 0) || (c == 0 && x.index < y.index);
  });
  for (size_t i = 0; i < tagged.size(); ++i) order_[i] = tagged[i].index;
}

bool PairBatch::ForEach(const std::function<bool(const uint8_t*)>& emit) const {
  for (const uint32_t i : order_) {
    if (!emit(&pool_[i * pair_size_])) return false;
  }
  return true;
}

void PairBatch::Clear() { order_.clear(); }

RunFile::~RunFile() {
  if (!file_) return;
  (void)file_->Close();
  file_.reset();
  (void)CurrentEnv()->Delete(name_);
}

bool RunFile::Create(BuildFailure& f) {
  Env* env = CurrentEnv();
  uint16_t code = env->TempFile(name_);
  if (code == 0) code = env->Open(name_, fmode::kReadWrite | fmode::kDenyAll, Disposition::kOpenExisting, file_);
  if (code != 0) {
    f = {code, "Cannot create temporary file " + name_ + " [MakeIndex]"};
    if (!name_.empty()) (void)env->Delete(name_);
    return false;
  }
  return true;
}

bool RunFile::Write(const PairBatch& batch, BuildFailure& f) {
  format_ = batch.format();
  const size_t ps = format_.length + 4u;
  Run run{size_, batch.size()};
  std::vector<uint8_t> out;
  out.reserve(kWriteChunk);
  uint16_t code = 0;
  auto flush = [&] {
    if (code == 0 && !out.empty()) code = file_->WriteAt(size_, out.data(), out.size());
    size_ += out.size();
    out.clear();
    return code == 0;
  };
  const bool ok = batch.ForEach([&](const uint8_t* pair) {
    out.insert(out.end(), pair, pair + ps);
    return out.size() + ps <= kWriteChunk || flush();
  });
  if (!ok || !flush()) {
    f = {code, "Error writing temporary file " + name_ + " [MakeIndex]"};
    return false;
  }
  runs_.push_back(run);
  return true;
}

namespace {

// One run being merged: its next pairs in a buffer, the rest on file.
struct Cursor {
  uint64_t offset = 0;
  uint64_t left = 0;  // pairs still on file
  std::vector<uint8_t> buf;
  size_t at = 0, have = 0;  // pairs
};

}  // namespace

bool RunFile::Merge(int64_t memory, const std::function<bool(const uint8_t*)>& emit, BuildFailure& f) {
  const size_t ps = format_.length + 4u;
  const size_t per_run =
      std::clamp<size_t>(static_cast<size_t>(std::max<int64_t>(memory, 0)) / runs_.size() / ps, 1, kMaxRunBuffer / ps);
  std::vector<Cursor> cursors(runs_.size());
  auto load = [&](Cursor& c) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(per_run, c.left));
    size_t got = 0;
    uint16_t code = file_->ReadAt(c.offset, c.buf.data(), n * ps, got);
    if (code == 0 && got != n * ps) code = err::kDiskRead;
    if (code != 0) {
      f = {code, "Error reading temporary file " + name_ + " [MakeIndex]"};
      return false;
    }
    c.offset += n * ps;
    c.left -= n;
    c.at = 0;
    c.have = n;
    return true;
  };
  auto head = [&](size_t i) { return cursors[i].buf.data() + cursors[i].at * ps; };
  // Live runs ordered by their head pair, the lowest last.
  std::vector<size_t> order;
  auto place = [&](size_t i) {
    auto pos = std::lower_bound(order.begin(), order.end(), i,
                                [&](size_t a, size_t b) { return ComparePairs(format_, head(a), head(b)) > 0; });
    order.insert(pos, i);
  };
  for (size_t i = 0; i < runs_.size(); ++i) {
    cursors[i].offset = runs_[i].offset;
    cursors[i].left = runs_[i].pairs;
    cursors[i].buf.resize(per_run * ps);
    if (!load(cursors[i])) return false;
    if (cursors[i].have > 0) place(i);
  }
  while (!order.empty()) {
    const size_t i = order.back();
    order.pop_back();
    if (!emit(head(i))) return false;
    Cursor& c = cursors[i];
    if (++c.at == c.have) {
      if (c.left == 0) continue;
      if (!load(c)) return false;
    }
    place(i);
  }
  return true;
}

}  // namespace ov
