// Whole-memo operations of the memo store: copying a memo between the memo
// files of two work areas, creating a memo from a text, packing and
// re-creating a memo file, and reading or writing a memo as lines of text.
//
// The work-area layer reaches these (and the opening and closing of memo
// files) only through the eight-entry operation table below; InstallMemoHooks
// hands its entries to the MemoHooks slots of the area table.
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

#include "engine/dbf/dbf4.h"
#include "engine/memo/memo.h"

namespace ov {

// A text-file variable bound to a memo reference of a work area.
struct MemoBinding {
  int32_t* reference = nullptr;
  int area = 0;
};

// The end of a raw dBASE III memo as other dBASE III programs write it.
inline constexpr char kDbase3MemoEnd[2] = {'\x1A', '\x1A'};

// The operation table, in its fixed order. It never changes, so it is a
// constant; InstallMemoHooks copies it into the area table's slots.
struct MemoOperations {
  int (*assign)(MemoBinding& binding, int32_t& reference);
  void (*pack)(WorkArea& area);
  uint16_t (*open)(WorkArea& area, const std::string& name);
  void (*close)(WorkArea& area);
  int32_t (*copy_to_end)(WorkArea& to, WorkArea& from, int32_t block);
  int32_t (*copy_same_number)(WorkArea& to, WorkArea& from, int32_t block);
  void (*recreate)(WorkArea& area, const std::string& name);
  int32_t (*add)(const std::string& text);
};

const MemoOperations& MemoOps();

// Copies the memo at `block` of area `source` into the current area's memo
// file: at its end, or at the same block number. Answers the destination
// block (positive: a dBASE III destination holds raw text), 0 when nothing
// was copied.
int32_t CopyMemo(int source, int32_t block, bool same_number);
int32_t CopyMemoBetween(WorkArea& to, WorkArea& from, int32_t block, bool same_number);

// A new memo of the current area holding `text` (converted to OEM for an
// OEM table, as every text is; plain in a dBASE III file, see
// StoreMemoText); its block number, 0 for an empty text or on failure
// (reported).
int32_t AddMemo(const std::string& text);

// Rebuilds the current area's memo file from the memos its records
// reference, last record first, and renumbers the records once every memo
// is copied (a failure leaves table and memo file unchanged).
void PackMemofile();
void PackMemofileOf(WorkArea& area);

// Closes the area's memo file, creates an empty one of the default kind
// under `name` and opens it.
void RecreateMemofile(WorkArea& area, const std::string& name);

// The memo text of a store through a text-file variable, and storing text
// as a memo: shared by the line reader and writer and the area hooks.
// Texts are converted between ANSI and OEM for OEM tables.
std::string LoadMemoText(WorkArea& area, int32_t block, const std::string& routine);
// Stores `text` (empty: no memo, the old one given back); the new block,
// or `old_block` when the store failed (reported). A text without 0x00 and
// 0x1A goes into a dBASE III file the way other dBASE III programs read it
// (raw, ended by 1A 1A, positive block number); only a text that such
// programs would cut short gets the headered form under a negated number.
int32_t StoreMemoText(WorkArea& area, const std::string& text, int32_t old_block,
                      const std::string& routine);
// Gives a dBASE IV / level 7 memo back to the free chain, under the lock.
void ReleaseMemoLocked(WorkArea& area, int32_t block);

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

// AssignMemo: the memo field check under "AssignMemo", then binds the
// reference and the current area; 0 on success, else the code (reported).
int AssignMemo(MemoBinding& binding, int32_t& reference);

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

}  // namespace ov::memo_detail
