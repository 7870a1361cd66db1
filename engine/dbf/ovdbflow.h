// Table files: the per-table file record and the routines that open,
// create, read, write, flush and close a .DBF file.
//
// File layout (all integers little-endian):
//
//   dBASE III/IV header, 32 bytes          level 7: the same 32 bytes, then
//   off  len  content                      off  len  content
//    0    1   version byte                  32   32   language driver name
//    1    3   last update: yy-1900, mm, dd  64    4   reserved
//    4    4   record count
//    8    2   header length (incl. 0x0D)   descriptors: 32 bytes at offset 32
//   10    2   record length (incl. flag)   (III/IV: name 0-10, type 11,
//   12   16   reserved (16-27 preserved)    len 16, dec 17) or 48 bytes at
//   28    1   production index flag         offset 68 (level 7: name 0-31,
//   29    3   language byte, reserved       type 32, len 33, dec 34)
//
//   dBASE II: version 0x02, count u16 at 1, mm dd yy at 3..5, record
//   length u16 at 6, 32 descriptors of 16 bytes at 8 (name 0-10, type 11,
//   len 12, dec 15), terminator at 520; header length 521.
//
//   Then the 0x0D terminator, the records (flag byte "*" or " " plus the
//   field texts) and one 0x1A end-of-file byte.
//
// Life cycle of a DbfFile:
//   closed(0) --OpenDbf/CreateDbf--> clean(1) --record write--> changed(2)
//   or appended(3) --FlushDbf--> clean(1); CloseDbf from any open state.
// The header reaches the disk in FlushDbf and CloseDbf (or on every write
// with FlushEachWrite); every appended record carries the end-of-file byte
// behind it.
//
// Shared tables (opened deny-none): other processes append to the same
// file, so the end of the table is only touched under the header byte of
// the lock area, and the count written there is the one the file size
// gives at that moment, never the count this process last saw. An append
// also writes the new count into the header, so readers that trust the
// header see each record at once.
//
// Failures are reported with ReportError; after a failed open or create the
// record holds no buffers and no file. Single-threaded, process-wide state
// (the settings in Engine().table).
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/support/platform.h"

namespace ov {

enum class DbfLayout : uint8_t { kDbase3, kDbase2, kLevel7 };

enum class DbfState : uint8_t { kClosed = 0, kClean = 1, kChanged = 2, kAppended = 3 };

// A field as the engine knows it after opening.
struct FieldEntry {
  std::string name;  // at most 10 characters, upper case
  char type = 'C';
  uint8_t length = 0;
  uint8_t decimals = 0;
  uint16_t offset = 0;  // within the record; the first field is at 1
};

// A field definition given to CreateDbf.
struct FieldDef {
  std::string name;
  char type = 'C';
  int length = 0;
  int decimals = 0;
};

// Translation of a record's bytes after the deletion flag.
using RecordFilter = std::function<void(char* bytes, size_t count)>;

// Records read ahead of a walk in record order, in pieces of
// kReadWindowBytes, so a walk costs one system call per piece rather than
// one per record.
//
// A cached record is the bytes record n had in the file when the window
// was filled, before any translation. It may serve a read only while this
// table has written nothing since (every write through this record, a
// flush, a count refresh, a close and a plain GetDbfRecord drop the window)
// and only where the caller allows it: the work areas allow it in a table
// no other process may write, and in a shared table only for reads made
// while the area holds no lock, by the walk that filled it. It may not be
// a record past the count known when it was filled, a part of a record, or
// the answer to a read made under a lock of a shared table.
struct ReadWindow {
  std::vector<char> bytes;
  int32_t first = 0;  // record number of the first record held
  int32_t count = 0;  // whole records held; 0 = empty
  bool Holds(int32_t n) const { return count > 0 && n >= first && n - first < count; }
};

inline constexpr size_t kReadWindowBytes = 64 * 1024;

// Walks in index order jump about the file: they keep the pieces of
// kReadWindowBytes they read (page p holds the records from p * per page
// + 1 on), up to Engine().table.RecordPageBytes per table, oldest dropped
// first. A page is a window in every other respect: the same records, the
// same rules, dropped with it.
struct RecordPages {
  std::unordered_map<int32_t, ReadWindow> pages;  // by page number
  std::deque<int32_t> order;                      // page numbers, oldest first
};

// How GetDbfRecordAhead may use the cached records: serve one it holds or
// read that one record alone (held only), or when it holds none fill the
// window from the record onward (forward) or up to it (backward), or keep
// the page of the record (paged, for jumps in a walk).
enum class ReadAhead : uint8_t { kHeldOnly, kForward, kBackward, kPaged };

struct DbfFile {
  std::string path;        // full path with extension
  std::string short_name;  // file name without directory
  uint8_t header[32] = {};
  DbfLayout layout = DbfLayout::kDbase3;
  bool has_memo = false;
  uint16_t header_length = 0;
  uint16_t record_length = 0;
  uint8_t field_count = 0;
  std::string last_update;  // YYYYMMDD
  DbfState state = DbfState::kClosed;
  std::vector<FieldEntry> fields;
  std::vector<char> record;   // the current record as stored
  std::vector<char> scratch;  // spare record buffer for reads and writes
  // Tables whose text is translated (OEM, or read/write filters): the last
  // record read or written as it is on disk, and as `record` held it then.
  // A field whose text is still what it was is written back from `stored`,
  // so characters without a twin in the other code page survive.
  std::vector<char> stored;
  std::vector<char> stored_text;
  // A translated read leaves the text image due: it is `stored` read from
  // OEM, made by StoredText when a write or a copy first asks for it.
  bool stored_text_due = false;
  int32_t record_count = 0;
  int32_t current_record = 0;
  bool at_end = false;
  bool at_beginning = false;
  uint16_t open_mode = fmode::kReadWrite | fmode::kDenyNone;
  bool oem = false;
  RecordFilter write_filter;
  RecordFilter read_filter;
  ReadWindow window;
  RecordPages record_pages;
  // The area wrote since its last read: the next record is read alone, as
  // a walk that writes as it goes would refill a piece for every record.
  bool wrote_since_read = false;
  std::unique_ptr<File> file;
  // The header byte of the lock area is held (LockHeaderByte): the end of
  // the table is written without taking it again, and without letting go.
  bool header_locked = false;

  uint8_t version() const { return header[0]; }
  bool is_open() const { return state != DbfState::kClosed; }
  // Offset of record n (1-based) in the file.
  uint64_t RecordOffset(int64_t n) const { return header_length + static_cast<uint64_t>(n - 1) * record_length; }
};

// Opens dbf.path (default extension "DBF") with dbf.open_mode.
void OpenDbf(DbfFile& dbf);
// Creates a table from field definitions and closes it again; creates the
// empty memo file too when a field needs one.
void CreateDbf(DbfFile& dbf, const std::string& name, std::span<const FieldDef> fields);
// Reads record n from the file, dropping the cached records.
void GetDbfRecord(DbfFile& dbf, int32_t n);
// Reads record n as GetDbfRecord does, through the cached records;
// reports and effects are the same. For walks the caller may serve from a
// window (see ReadWindow).
void GetDbfRecordAhead(DbfFile& dbf, int32_t n, ReadAhead ahead);
// The stored bytes of record n from the window, filled forward from n
// when it does not hold n; nullptr (nothing reported) when n lies outside
// 1..count or the file holds no whole record n. The record buffer and the
// current record stay as they are.
const char* WindowRecord(DbfFile& dbf, int32_t n);
// A hint that record n will be read soon: when a kept page holds it, its
// bytes are fetched into the processor's cache. Reads nothing.
void PrefetchRecord(const DbfFile& dbf, int32_t n);
// Drops the window and the record pages.
void DropReadWindow(DbfFile& dbf);
// Whether another process may write the table while it is open.
bool OthersMayWrite(const DbfFile& dbf);
// Writes the record buffer as record n; n beyond the end appends.
void PutDbfRecord(DbfFile& dbf, int32_t n);
// The text image of the stored record (what `record` held when it was read
// or written), made now if a read left it due; nullptr without an image.
const char* StoredText(DbfFile& dbf);
void AppendDbfRecord(DbfFile& dbf);
void PutDeleteFlag(DbfFile& dbf, int32_t n);
// Whether the table's text is translated between the file and `record`.
bool TranslatesText(const DbfFile& dbf);
// Sets field `f` of the record buffer to `text`, whose bytes on disk are
// `disk` (same length as the field): for copying between two tables of one
// code page without passing through the other. Not for tables with filters.
void SetStoredField(DbfFile& dbf, const FieldEntry& f, const char* disk, const char* text);
void FlushDbf(DbfFile& dbf);
void FlushFile(File& file);
// The whole records the file holds after its header, into `count` (left
// as it was on failure); 0 or the file's code.
[[nodiscard]] uint16_t CountFromSize(const DbfFile& dbf, int32_t& count);
void CloseDbf(DbfFile& dbf);

// What RepairEndOfTable found and did.
struct EndRepair {
  int64_t header_count = 0;   // the count the header held
  int64_t whole_records = 0;  // records the file holds in full
  int32_t count = 0;          // the count the header holds now
  bool end_byte = false;      // the end-of-file byte was written
};
// Mends what a killed writer leaves at the end of a table: the header count
// becomes the number of whole records when the file holds more (or, with
// `may_lower`, fewer), and a missing or wrong end-of-file byte after the
// last record is written. A partial record after the last is left alone.
// Shared tables are mended under the header byte. Answers 0 or the code.
[[nodiscard]] uint16_t RepairEndOfTable(DbfFile& dbf, bool may_lower, EndRepair& done);

// The header byte of the lock area, or nothing when tables are not locked
// at all; the work-area layer owns the lock settings.
std::optional<uint32_t> HeaderLockByte();

// "FPT" for 0xF5 and 0x30, "DBT" otherwise.
std::string MemoExtension(uint8_t version);
// Whether a version byte passes the open check with the current settings.
bool IsAcceptedVersion(uint8_t version);

}  // namespace ov
