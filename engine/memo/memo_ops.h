// Whole-memo operations of the memo store on memo file handles: copying a
// memo between two memo files, storing and loading a memo's text, packing a
// memo file, and reading or writing a memo as lines of text. memo_area.h
// offers them to the work-area layer.
//
// Copy between kinds: a dBASE III source memo referenced by a positive block
// number is raw text ending at the first 0x1A (a zero byte counts as one);
// any other source has an 8-byte block header giving its length. A dBASE III
// destination receives raw text plus 1A 1A (readers stop at the first; some
// other programs look for the pair), unless the memo holds 0x1A or a zero
// byte: then, like any other destination, an 8-byte block header and the
// bytes, under a negated block number.
//
// Single-threaded, process-wide state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/dbf/ovdbflow.h"
#include "engine/memo/memo.h"

namespace ov {

// A text-file variable bound to a memo reference of a work area.
struct MemoBinding {
  int32_t* reference = nullptr;
  int area = 0;
};

// The end of a raw dBASE III memo as other dBASE III programs write it.
inline constexpr char kDbase3MemoEnd[2] = {'\x1A', '\x1A'};

// What a binding leads to: the memo file of its area (nullptr when the
// binding is unset or the area has no memo file any more), whether the
// table keeps OEM text, and the area's position for reports.
struct BoundMemo {
  MemoState* state = nullptr;
  bool oem = false;
  std::string where;
};
// The area layer answers it (memo_area.cpp).
BoundMemo ResolveBinding(const MemoBinding& binding);
// The memo at `block` of the bound record is given back once that record
// is written without it (memo_area.cpp).
void DeferRelease(const MemoBinding& binding, int32_t block);

// Copies the memo at `block` of `source` into `dest`: at its end, or at
// the same block number. Answers the destination block (positive: a
// dBASE III destination holds raw text), 0 when nothing was copied.
int32_t CopyMemoInto(MemoState& dest, MemoState& source, int32_t block, bool same_number, const std::string& dest_where,
                     const std::string& source_where);

// The memo's bytes as stored (no character conversion); empty for block 0
// or on failure (reported).
std::string LoadMemoBytes(MemoState& s, int32_t block, const std::string& where, const std::string& routine);
// Stores `bytes` in blocks no record uses (empty: no memo); the new block,
// or `old_block` when the store failed (reported). The old memo is left
// as it is: the caller gives it back once the record no longer points at
// it, so a failure or a crash before then loses nothing. Bytes without 0x00 and
// 0x1A go into a dBASE III file the way other dBASE III programs read them
// (raw, ended by 1A 1A, positive block number); only bytes that such
// programs would cut short get the headered form under a negated number.
[[nodiscard]] int32_t StoreMemoBytes(MemoState& s, const std::string& bytes, int32_t old_block,
                                     const std::string& where, const std::string& routine);
// Gives a dBASE IV / level 7 memo back to the free chain, under the lock.
void ReleaseMemoLocked(MemoState& s, int32_t block, const std::string& where);

// Packing: whether the disk holds a copy of the memo file (else 1012,
// reported), and the copy "$$$" of every memo `table`'s records reference,
// last record first, with the records renumbered once every memo is
// copied. False after a report: table and old memo file unchanged and the
// copy removed.
bool HasPackSpace(const MemoState& s);
bool RebuildMemoFile(DbfFile& table, MemoState& old, const std::string& fresh_name);

// ---- Memo text lines ----

inline constexpr size_t kMemoLineWidth = 254;
inline constexpr size_t kMemoMaxLines = 16384;
inline constexpr int64_t kMemoLineMemory = 1000;

// How a memo text line ended.
enum class LineEnd : uint8_t { kNone, kHard, kSoft };

struct MemoLine {
  std::string text;
  LineEnd end = LineEnd::kNone;
};

// Opening a bound memo for reading: loads it into lines (GetMemo). Each
// line is yielded with its end: CR LF after a hard return, 0x8D LF after a
// soft return, nothing after a line cut at the line width or the last line.
// Using it with no lines loaded (unbound, failed load, closed) gives 104.
class MemoTextReader {
 public:
  explicit MemoTextReader(const MemoBinding& binding, size_t max_lines = kMemoMaxLines);
  bool loaded() const { return loaded_; }
  bool Eof();
  // The next line with its end; false at the end of the memo.
  bool ReadLine(std::string& line);
  void Close();

 private:
  bool CheckLoaded();
  std::vector<MemoLine> lines_;
  size_t next_ = 0;
  bool loaded_ = false;
};

// Opening a bound memo for writing: starts with no lines. Characters are
// collected into lines (CR or LF ends one, CR LF counting once; a line is
// cut on reaching 255 characters); Close stores them as a memo and writes
// the new block number into the reference. Destruction without Close
// discards the lines.
class MemoTextWriter {
 public:
  explicit MemoTextWriter(const MemoBinding& binding, size_t max_lines = kMemoMaxLines);
  void Write(std::string_view chars);
  // Stores the lines; false when nothing could be stored (101 when lines
  // were lost, 104 when not open).
  bool Close();

 private:
  bool EndLine(LineEnd end);
  MemoBinding binding_;
  size_t max_lines_;
  std::vector<MemoLine> lines_;
  std::string pending_;
  bool open_ = false;
  bool after_cr_ = false;
};

}  // namespace ov

// ---- Internal to the memo store: one memo moved between two open files ----

namespace ov::memo_detail {

struct MemoTransfer {
  MemoState* source = nullptr;
  MemoState* dest = nullptr;
  int32_t source_block = 0;  // negative: a headered memo of a dBASE III file
  uint64_t dest_offset = 0;
  std::string source_context;
  std::string dest_context;
};

// Copies the memo; answers false after reporting (30 short read, 1003 no
// memo at the block, 1005 short write). `headered` tells whether the copy
// got a block header (always, but in a dBASE III file only when raw text
// could not hold the memo).
bool TransferMemo(const MemoTransfer& t, bool& headered);
// The destination's reference to a transferred memo: negated for a
// headered memo in a dBASE III file.
int32_t DestBlock(const MemoTransfer& t, bool headered);

// Where the next memo of a file goes: its size rounded up to a block and
// never inside the header; a fresh dBASE III file is written from 512.
uint64_t MemoAppendOffset(MemoState& s);

// Writes the next-free value of a memo file header: the file end in blocks
// (a fresh dBASE III file keeps 1).
bool WriteNextFree(MemoState& s, const std::string& context);

// Copies the memo at `block` to the end of `fresh`; its block there, 0 on
// failure (reported with the record number).
int32_t CopyToFresh(MemoState& old, MemoState& fresh, int32_t block, int32_t record);

}  // namespace ov::memo_detail
