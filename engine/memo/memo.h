// The memo store's file handle: an open memo file, its block allocation,
// and the descriptor through which one memo's bytes flow.
//
// A memo file is cut into blocks of `block_size` bytes; a table record
// holds the number of a memo's first block (0 = no memo). Block n starts at
// n * block_size. Headers (see memo_create.h for the layouts) sit in
// front of block 1 (dBASE III, FoxPro) or fill block 0 (dBASE IV, level 7).
//
// Block header in front of a memo's bytes (8 bytes):
//   dBASE IV, level 7 and dBASE III memos written here:
//       FF FF 08 00, u32 LE length including these 8 bytes
//   FoxPro: u32 BE type (1 = text), u32 BE length of the bytes
// dBASE III memos written by other programs have no header: the text runs
// from the block to the first 0x1A. This system references the memos it
// writes into a dBASE III file by the negated block number.
//
// Free chain (dBASE IV, level 7): each free run begins with an 8-byte node
// (u32 next run, u32 run size in blocks); the header's first 8 bytes are
// the head node (size 0). Runs are kept in ascending order; the last
// "next" is the first block past the end of the file. u32 at offset 32
// counts the blocks released by rewrites. A memo of L bytes (header
// included) occupies ceil(L / block_size) blocks; this system allocates
// L div block_size + 1.
//
// Writes run between the memo-file lock taken by LockMemoPadAndSeekEOF and
// the unlock in UpdateMemoHeader; readers take no lock.
//
// Everything here works on one memo file handle (MemoState); reports name
// the file, `where` (the caller's position, e.g. "Record # 3") and the
// routine. memo_area.h maps work areas onto these handles.
//
// Single-threaded, process-wide state.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/memo/memo_create.h"
#include "engine/support/platform.h"

namespace ov {

// The one byte every process locks while it writes a memo file.
inline constexpr uint64_t kMemoLockOffset = 0x7FFFFFFEu;
inline constexpr uint64_t kMemoLockLength = 1;
// A memo write holds the lock for a few milliseconds, but another process
// may hold it many times in a row: the lock is retried on the clock, every
// kMemoLockPauseMs, for up to kMemoLockWaitMs in all, before 1017.
inline constexpr uint32_t kMemoLockWaitMs = 2000;
inline constexpr uint32_t kMemoLockPauseMs = 2;

// Applied to memo bytes on their way to (writing = true) and from the
// file; `offset` is the position of bytes[0] inside the memo.
using MemoTransform = std::function<void(uint8_t* bytes, size_t n, int64_t offset, bool writing)>;

// One memo being read or written.
struct MemoDescriptor {
  bool open = false;
  int mode = 0;             // 1 read, 2 write
  int64_t length = -1;      // bytes without block header; -1 unknown (read to 0x1A)
  uint64_t data_start = 0;  // file offset of the first data byte
  uint8_t header_size = 0;  // 8 with a block header, else 0
  int64_t position = 0;     // offset inside the memo; bytes written so far
  int32_t block = 0;
  int64_t written = 0;    // highest position written
  int64_t capacity = -1;  // bytes the allocated run holds; -1 unbounded
  int text_mode = -1;     // -1 undecided, 1 OEM<->ANSI, 0 bytes unchanged
  std::string where;      // the caller's position, for reports
};

// An open memo file.
struct MemoState {
  std::unique_ptr<File> file;
  MemoKind kind = MemoKind::kDbase4;
  uint16_t block_size = 512;
  std::string name;
  bool locked = false;
  // Other processes may write the file: writes take the memo-file lock and
  // finished memos are pushed to the disk.
  bool shared = false;
  MemoDescriptor desc;
  // The first bytes of the memo the descriptor reads, taken with its block
  // header in one read: a memo that fits costs a single read.
  std::vector<uint8_t> head;
  uint64_t head_at = 0;
  size_t head_got = 0;
  uint64_t known_size = 0;  // the file's size as a read last learnt it
  MemoTransform transform;  // absent: bytes pass unchanged
  // Old memos of a record rewritten in the text writer, given back once
  // that record is written without them.
  struct PendingRelease {
    int32_t record = 0;
    int32_t block = 0;
  };
  std::vector<PendingRelease> pending_release;
};

// Opens the memo file `path` (extension included) of `kind` into `s`, its
// block size taken from the header; the code, 0 = success (1003: a block
// size the kind cannot have).
[[nodiscard]] uint16_t OpenMemoHandle(const std::string& path, MemoKind kind, uint16_t mode, bool shared, MemoState& s);
// Ends any descriptor, gives back the lock and closes the file.
void CloseMemoHandle(MemoState& s);

// Context of a memo report: file name, `where` (may be empty), routine.
std::string MemoContext(const MemoState& s, const std::string& where, const std::string& routine);

// Block size of an existing memo file, for copy and pack.
uint16_t MemoFileBlockSize(const std::string& path, MemoKind kind);

// Locks (when shared), pads to a block boundary; the end offset, 0 on failure.
uint64_t LockMemoPadAndSeekEOF(MemoState& s, const std::string& context);
// Records the file end (FoxPro, dBASE III) and releases the lock.
void UpdateMemoHeader(MemoState& s, const std::string& where);
// Pushes a finished memo write to the disk when other programs share the
// memo file; a file held exclusively is left to the system's own writing,
// as table records are.
void FlushMemoFile(MemoState& s);

// Blocks the memo at `block` occupies; 0 when it has no FF FF header.
int32_t ReadBlockHeader(MemoState& s, int32_t block);
void WriteBlockHeader(MemoState& s, int32_t block, uint32_t length, const std::string& where);

// dBASE IV / level 7 only: a run of `needed` free blocks, taken from the
// free chain or the end of the file; 0 on failure. Never a block in use:
// a memo is rewritten into new blocks, and its old ones are released only
// once the record points elsewhere.
[[nodiscard]] int32_t AllocateMemoBlocks(MemoState& s, int32_t needed, const std::string& context);
// Returns the run of `blocks` blocks at `first` to the free chain.
void ReleaseMemoRun(MemoState& s, int32_t first, int32_t blocks, const std::string& context);
// Returns the memo at `block` to the free chain and counts its blocks as
// released (dBASE IV, level 7).
void ReleaseMemo(MemoState& s, int32_t block, const std::string& context);
// Adds released blocks to the counter at offset 32 (dBASE IV, level 7).
void CountReleasedBlocks(MemoState& s, int32_t blocks, const std::string& context);

// Opens the descriptor of `s` on `block` (mode 1 read, 2 write, expected
// size in bytes or -1 unknown); the block number (negated for a new memo
// in a dBASE III file), 0 on failure. `where` stays with the descriptor
// for the reports of the calls below.
[[nodiscard]] int32_t OpenMemoDescriptor(MemoState& s, int32_t block, int mode, int64_t expected,
                                         const std::string& where, const std::string& routine);
size_t ReadMemoBytes(MemoState& s, void* buf, size_t n);
size_t WriteMemoBytes(MemoState& s, const void* buf, size_t n);
int64_t SeekMemo(MemoState& s, int64_t offset, int origin);
void CloseMemoDescriptor(MemoState& s);

}  // namespace ov
