#include "engine/dbf/ovdbflow.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>

#include "engine/dbf/dbf_header.h"
#include "engine/support/codepage.h"
#include "engine/support/coding.h"
#include "engine/support/engine_state.h"
#include "engine/support/ovcommon.h"

namespace ov {

namespace {

std::string NotDbase(const std::string& who, const std::string& why, const std::string& tail) {
  return who + " is not a dBASE database." + why + tail;
}

// Drops the file and buffers of a failed open; the record is left closed.
void ReleaseDbf(DbfFile& dbf) {
  dbf.file.reset();
  dbf.window = ReadWindow{};
  dbf.record_pages = RecordPages{};
  dbf.fields.clear();
  dbf.record.clear();
  dbf.record.shrink_to_fit();
  dbf.state = DbfState::kClosed;
}

// Fails an open: release first, then report (the report may raise).
void FailOpen(DbfFile& dbf, uint16_t code, const std::string& context) {
  ReleaseDbf(dbf);
  ReportError(code, context);
}

uint16_t ReadExact(File& f, uint64_t off, void* buf, size_t n) {
  size_t got = 0;
  uint16_t code = f.ReadAt(off, buf, n, got);
  if (code != 0) return code;
  return got == n ? 0 : 100;
}

std::string UpdateText(int year, int month, int day) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d%02d%02d", year % 10000, month % 100, day % 100);
  return buf;
}

// Validates the field table against the record length: a damaged header
// must not let a field reach past the record buffer.
bool FieldsFitRecord(const DbfFile& dbf) {
  uint32_t need = 1;
  for (const FieldEntry& f : dbf.fields) need += f.length;
  return need <= dbf.record_length;
}

bool ConvertDescriptors(DbfFile& dbf, const uint8_t* bytes, size_t count, size_t size, const DescriptorLayout& lay) {
  uint16_t offset = 1;
  const std::string& valid = Engine().table.ValidFieldTypes;
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* d = bytes + i * size;
    if (d[0] == 0x0D) break;
    FieldEntry fe = DecodeDescriptor(d, lay);
    fe.offset = offset;
    if (valid.find(fe.type) == std::string::npos) {
      std::string letter(1, fe.type);
      FailOpen(dbf, 211, "Field: " + fe.name + " [" + letter + "] in " + dbf.path + " is not a valid field type");
      return false;
    }
    offset = static_cast<uint16_t>(offset + fe.length);
    dbf.fields.push_back(std::move(fe));
  }
  return true;
}

bool OpenDbase2(DbfFile& dbf) {
  const uint8_t* h = dbf.header;
  dbf.record_count = GetLe16(h + 1);
  dbf.last_update = UpdateText(1900 + h[5], h[3], h[4]);
  dbf.record_length = GetLe16(h + 6);
  dbf.header_length = kDbase2HeaderLength;
  dbf.has_memo = false;
  uint8_t desc[512];
  if (ReadExact(*dbf.file, 8, desc, sizeof desc) != 0) {
    FailOpen(dbf, 100, "Error reading " + dbf.path + " [Use/OpenDbf]");
    return false;
  }
  bool terminated = false;
  for (size_t i = 0; i < 32 && !terminated; ++i) terminated = desc[i * 16] == 0x0D;
  if (!terminated) {
    FailOpen(dbf, 210, NotDbase(dbf.short_name, "(Number of fields is out of range)", " [Use/OpenDbf]"));
    return false;
  }
  if (!ConvertDescriptors(dbf, desc, 32, 16, kDbase2Descriptor)) return false;
  if (dbf.fields.empty()) {
    FailOpen(dbf, 222, "Error reading " + dbf.path + " [Use/OpenDbf]");
    return false;
  }
  return true;
}

bool OpenDbase3Or7(DbfFile& dbf) {
  const uint8_t* h = dbf.header;
  const bool level7 = dbf.layout == DbfLayout::kLevel7;
  dbf.has_memo = HasMemoFlag(h);
  dbf.header_length = GetLe16(h + 8);
  const int prefix = level7 ? kLevel7Prefix : 32;
  const int dsize = level7 ? 48 : 32;
  const int fields = (static_cast<int>(dbf.header_length) - prefix) / dsize;
  if (static_cast<int>(dbf.header_length) < prefix || fields < 1 || fields > 255) {
    FailOpen(dbf, 210, NotDbase(dbf.short_name, " (Number of fields is out of range)", " [Use/OpenDbf]"));
    return false;
  }
  dbf.last_update = UpdateText(1900 + h[1], h[2], h[3]);
  dbf.record_count = static_cast<int32_t>(GetLe32(h + 4));
  dbf.record_length = GetLe16(h + 10);
  std::vector<uint8_t> rest(dbf.header_length - 32);
  if (ReadExact(*dbf.file, 32, rest.data(), rest.size()) != 0) {
    FailOpen(dbf, 100, "Error reading " + dbf.path + " [Use/OpenDbf]");
    return false;
  }
  const uint8_t* desc = rest.data() + (prefix - 32);
  if (desc[0] == 0x0D) {
    FailOpen(dbf, 222, "Error reading " + dbf.path + " [Use/OpenDbf]");
    return false;
  }
  return ConvertDescriptors(dbf, desc, static_cast<size_t>(fields), dsize,
                            level7 ? kLevel7Descriptor : kDbase3Descriptor);
}

// Rewrites the header with today's date and the record count. dBASE III/IV
// and level 7 keep bytes 16-28 as another program may have left them (28:
// the production-index flag, which another component may have set).
uint16_t WriteHeader(DbfFile& dbf) {
  LocalDate today = Today();
  dbf.last_update = UpdateText(today.year, today.month, today.day);
  if (dbf.layout == DbfLayout::kDbase2) {
    uint8_t b[8];
    b[0] = dbf.header[0];
    b[1] = static_cast<uint8_t>(dbf.record_count);
    b[2] = static_cast<uint8_t>(dbf.record_count >> 8);
    b[3] = static_cast<uint8_t>(today.month);
    b[4] = static_cast<uint8_t>(today.day);
    b[5] = static_cast<uint8_t>(today.year - 1900);
    b[6] = static_cast<uint8_t>(dbf.record_length);
    b[7] = static_cast<uint8_t>(dbf.record_length >> 8);
    std::copy(b, b + 8, dbf.header);
    return dbf.file->WriteAt(0, b, 8);
  }
  size_t got = 0;
  uint8_t reserved[13];
  uint16_t code = dbf.file->ReadAt(16, reserved, sizeof reserved, got);
  if (code != 0) return code;
  std::copy(reserved, reserved + got, dbf.header + 16);
  dbf.header[1] = static_cast<uint8_t>(today.year - 1900);
  dbf.header[2] = static_cast<uint8_t>(today.month);
  dbf.header[3] = static_cast<uint8_t>(today.day);
  PutLe32(dbf.header + 4, static_cast<uint32_t>(dbf.record_count));
  return dbf.file->WriteAt(0, dbf.header, 32);
}

constexpr uint8_t kEndOfFile = 0x1A;

uint16_t WriteEndOfFile(DbfFile& dbf) {
  return dbf.file->WriteAt(dbf.RecordOffset(dbf.record_count + 1), &kEndOfFile, 1);
}

// The count alone, at its place in the header.
uint16_t WriteCount(DbfFile& dbf, int32_t count) {
  const bool two = dbf.layout == DbfLayout::kDbase2;
  uint8_t* at = dbf.header + (two ? 1 : 4);
  if (two) {
    PutLe16(at, static_cast<uint16_t>(count));
  } else {
    PutLe32(at, static_cast<uint32_t>(count));
  }
  return dbf.file->WriteAt(two ? 1 : 4, at, two ? 2 : 4);
}

bool IsShared(const DbfFile& dbf) { return (dbf.open_mode & fmode::kShareMask) == fmode::kDenyNone; }

// The records the file holds in full.
uint16_t WholeRecords(const DbfFile& dbf, uint64_t& size, int64_t& whole) {
  const uint16_t code = dbf.file->Size(size);
  if (code != 0) return code;
  const uint64_t data = size > dbf.header_length ? size - dbf.header_length : 0;
  const uint64_t n = data / std::max<uint16_t>(dbf.record_length, 1);
  whole = static_cast<int64_t>(std::min<uint64_t>(n, INT32_MAX - 1));
  return 0;
}

}  // namespace

uint16_t CountFromSize(const DbfFile& dbf, int32_t& count) {
  uint64_t size = 0;
  int64_t whole = 0;
  const uint16_t code = WholeRecords(dbf, size, whole);
  if (code == 0) count = static_cast<int32_t>(whole);
  return code;
}

namespace {

// Pauses between attempts at the header byte, which others hold only for
// the few writes at the end of the table: a little over two seconds.
constexpr int kHeaderLockAttempts = 2000;

// Holds the header byte of a shared table while its end is read and
// written, so a count taken from the file size stays current until the
// header and end-of-file byte that follow from it are on disk.
class EndLock {
 public:
  explicit EndLock(DbfFile& dbf) : dbf_(dbf) {
    if (!IsShared(dbf) || dbf.header_locked) return;
    const std::optional<uint32_t> at = HeaderLockByte();
    if (!at) return;
    for (int attempt = 1;; ++attempt) {
      code_ = dbf.file->Lock(*at, 1);
      if (code_ == 0) {
        held_ = at;
        return;
      }
      if (attempt >= kHeaderLockAttempts) return;
      CurrentEnv()->SleepMs(1);
    }
  }
  ~EndLock() {
    if (held_ && dbf_.file) (void)dbf_.file->Unlock(*held_, 1);
  }
  EndLock(const EndLock&) = delete;
  EndLock& operator=(const EndLock&) = delete;
  uint16_t code() const { return code_; }

 private:
  DbfFile& dbf_;
  std::optional<uint32_t> held_;
  uint16_t code_ = 0;
};

// Header, end-of-file byte when records were appended; 0 or the first code.
// The count comes from the file as it is now: another process may have
// appended since ours was taken, and an end-of-file byte placed by a stale
// count would land on its record.
uint16_t WriteHeaderAndEof(DbfFile& dbf) {
  EndLock lock(dbf);
  uint16_t code = lock.code();
  if (code == 0) code = CountFromSize(dbf, dbf.record_count);
  if (code == 0) code = WriteHeader(dbf);
  if (code == 0 && dbf.state == DbfState::kAppended) code = WriteEndOfFile(dbf);
  return code;
}

// Writes `out` as record n, the end-of-file byte behind it. A shared table
// takes n from the file under the header byte and writes the new count.
uint16_t WriteAppended(DbfFile& dbf, std::vector<char>& out, int32_t& n) {
  EndLock lock(dbf);
  uint16_t code = lock.code();
  const bool shared = IsShared(dbf);
  int32_t now = 0;
  if (code == 0 && shared) code = CountFromSize(dbf, now);
  if (code != 0) return code;
  n = std::max(n, now + 1);
  out.push_back(static_cast<char>(kEndOfFile));
  code = dbf.file->WriteAt(dbf.RecordOffset(n), out.data(), out.size());
  out.pop_back();
  if (code == 0 && shared) code = WriteCount(dbf, n);
  // A failed append leaves no part of its record behind (a partial record
  // would be read as garbage after a repair); the end-of-file byte goes
  // back where it was when the disk allows.
  if (code != 0 && dbf.file->Truncate(dbf.RecordOffset(n)) == 0) {
    const char eof = static_cast<char>(kEndOfFile);
    (void)dbf.file->WriteAt(dbf.RecordOffset(n), &eof, 1);
  }
  return code;
}

bool CheckRecordNumber(const DbfFile& dbf, int32_t n, const std::string& routine) {
  if (n >= 1 && n <= dbf.record_count) return true;
  ReportError(err::kBeyondRange,
              "Invalid record number = " + std::to_string(n) + " (" + dbf.path + ")  [" + routine + "]");
  return false;
}

// The context of a record routine's report: built only when one is made,
// as the routines run once per record.
std::string FileContext(const DbfFile& dbf, const char* sep_and_routine) {
  return "File: " + dbf.path + sep_and_routine;
}

bool CheckOpen(const DbfFile& dbf, const char* sep_and_routine) {
  if (dbf.is_open() && dbf.file) return true;
  ReportError(err::kFileNotOpen, FileContext(dbf, sep_and_routine));
  return false;
}

// The count from the file size. A writable open also mends the header and
// end-of-file byte a killed writer left, so other readers see what we see.
// Failing that, the header is left for the next write to correct.
void RepairOnOpen(DbfFile& dbf) {
  EndRepair done;
  const bool writable = (dbf.open_mode & fmode::kAccessMask) == fmode::kReadWrite;
  if (writable && RepairEndOfTable(dbf, true, done) == 0) return;
  (void)CountFromSize(dbf, dbf.record_count);
}

}  // namespace

uint16_t RepairEndOfTable(DbfFile& dbf, bool may_lower, EndRepair& done) {
  DropReadWindow(dbf);
  EndLock lock(dbf);
  if (lock.code() != 0) return lock.code();
  // The header as it is now: another process may have written it since.
  uint8_t head[32];
  size_t got = 0;
  uint16_t code = dbf.file->ReadAt(0, head, sizeof head, got);
  if (code == 0 && got != sizeof head) code = 100;
  uint64_t size = 0;
  if (code == 0) code = WholeRecords(dbf, size, done.whole_records);
  if (code != 0) return code;
  done.header_count = HeaderRecordCount(head, dbf.layout);
  const int64_t whole = done.whole_records;
  const bool fix_count = whole > done.header_count || (may_lower && whole < done.header_count);
  done.count = static_cast<int32_t>(fix_count ? whole : std::clamp<int64_t>(done.header_count, 0, INT32_MAX - 1));
  dbf.record_count = done.count;
  if (fix_count && (code = WriteCount(dbf, done.count)) != 0) return code;
  // The end-of-file byte goes after the last record, never into a partial one.
  if (done.count != whole) return 0;
  const uint64_t end = dbf.RecordOffset(done.count + int64_t{1});
  uint8_t last = 0;
  if (size == end + 1 && (code = dbf.file->ReadAt(end, &last, 1, got)) != 0) return code;
  done.end_byte = size == end || (size == end + 1 && last != kEndOfFile);
  return done.end_byte ? WriteEndOfFile(dbf) : 0;
}

bool IsAcceptedVersion(uint8_t v) {
  const TableSettings& t = Engine().table;
  if ((t.CustomVersion != 0 && v == t.CustomVersion) || (t.CustomMemoVersion != 0 && v == t.CustomMemoVersion)) {
    return true;
  }
  return v == 0x02 || v == 0x03 || v == 0x04 || v == 0x83 || v == 0x8B || v == 0x8C || v == 0xF5;
}

std::string MemoExtension(uint8_t version) {
  if (!IsAcceptedVersion(version) && version != 0x30) version = Engine().table.CreateVersion;
  return (version == 0xF5 || version == 0x30) ? "FPT" : "DBT";
}

void OpenDbf(DbfFile& dbf) {
  ReleaseDbf(dbf);
  dbf.path = ResolveName(DefaultExt(dbf.path, "DBF"));
  Errors().DbfError = 0;
  uint16_t code = CurrentEnv()->Open(dbf.path, dbf.open_mode, Disposition::kOpenExisting, dbf.file);
  if (code != 0) {
    FailOpen(dbf, code, "Failure to open " + dbf.path + " [USE/OpenDbf]");
    return;
  }
  dbf.short_name = BareName(dbf.path);
  if (dbf.oem) dbf.short_name = StrToOem(dbf.short_name);
  size_t got = 0;
  code = dbf.file->ReadAt(0, dbf.header, 32, got);
  if (code != 0 || got < 32) {
    FailOpen(dbf, 210, NotDbase(dbf.path, " (Prolog is less than 32 bytes)", " [USE/OpenDBF]"));
    return;
  }
  if (!IsAcceptedVersion(dbf.header[0])) {
    FailOpen(dbf, 210, NotDbase(dbf.path, "(Invalid version byte)", "+ [USE/OpenDBF]"));
    return;
  }
  dbf.layout = LayoutOf(dbf.header[0]);
  bool ok = dbf.layout == DbfLayout::kDbase2 ? OpenDbase2(dbf) : OpenDbase3Or7(dbf);
  if (!ok) return;
  if (!FieldsFitRecord(dbf)) {
    FailOpen(dbf, 210, NotDbase(dbf.short_name, " (Record length does not match the fields)", " [Use/OpenDbf]"));
    return;
  }
  dbf.field_count = static_cast<uint8_t>(dbf.fields.size());
  dbf.record.assign(dbf.record_length, ' ');
  if (Engine().table.RepairRecCount) RepairOnOpen(dbf);
  const bool empty = dbf.record_count < 1;
  dbf.current_record = empty ? 0 : 1;
  dbf.at_end = dbf.at_beginning = empty;
  dbf.state = DbfState::kClean;
}

void CreateDbf(DbfFile& dbf, const std::string& name, std::span<const FieldDef> defs) {
  ReleaseDbf(dbf);
  Errors().DbfError = 0;
  CreatePlan plan;
  if (!PlanTable(defs, plan)) {
    ReportError(err::kBadFieldDefinition, "Invalid dBASE field definition [CreateDBF]");
    return;
  }
  const std::string path = DefaultExt(TrimText(name), "DBF");
  // Refused before anything is written: a table without its memo file
  // could not be opened.
  const MemoFileHooks& memo = Engine().memo_files;
  std::string memo_path;
  if (plan.has_memo) {
    if (!memo.name_for || !memo.creatable || !memo.create) {
      ReportError(err::kMemoNoTable, "No memo store to create the memo file of " + path + " [CreateDbf()]");
      return;
    }
    memo_path = memo.name_for(path, plan.version);
    if (!memo.creatable(plan.version)) {
      ReportError(err::kMemoAddress, "Cannot create memo file " + memo_path + " [CreateDbf()]");
      return;
    }
  }
  dbf.path = path;
  dbf.open_mode = fmode::kReadWrite | fmode::kDenyAll;
  uint16_t code = OpenResolved(path, dbf.open_mode, Disposition::kCreateTruncate, dbf.file);
  if (code == 0) code = dbf.file->WriteAt(0, plan.image.data(), plan.image.size());
  if (code != 0) {
    ReleaseDbf(dbf);
    ReportError(code, "Error writing " + path + ". [CreateDbf]");
    return;
  }
  std::copy(plan.image.begin(), plan.image.begin() + 32, dbf.header);
  dbf.short_name = BareName(path);
  dbf.layout = plan.level7 ? DbfLayout::kLevel7 : DbfLayout::kDbase3;
  dbf.has_memo = plan.has_memo;
  dbf.header_length = static_cast<uint16_t>(plan.image.size());
  dbf.record_length = plan.record_length;
  dbf.fields = std::move(plan.fields);
  dbf.field_count = static_cast<uint8_t>(dbf.fields.size());
  dbf.record_count = 0;
  dbf.current_record = 0;
  dbf.state = DbfState::kAppended;
  CloseDbf(dbf);
  if (plan.has_memo && Errors().DbfError == 0) {
    memo.create(memo_path, plan.version, "CreateDbf()");
  }
}

namespace {

// The record buffer's translation after a read: the read filter, then OEM
// to ANSI, with the stored image kept for the next write.
void TranslateRead(DbfFile& dbf) {
  if (!TranslatesText(dbf)) return;
  char* body = dbf.record.data() + 1;
  const size_t len = dbf.record.size() - 1;
  // Plain ASCII is the same in both code pages: nothing to translate and
  // no image to keep, as a write gives back the very bytes read.
  dbf.stored_text_due = false;
  if (!dbf.read_filter && !HasHighBytes(body, len)) {
    dbf.stored.clear();
    dbf.stored_text.clear();
    return;
  }
  dbf.stored.assign(dbf.record.begin(), dbf.record.end());
  if (dbf.read_filter) dbf.read_filter(body, len);
  if (dbf.oem) OemToAnsiBuf(body, len);
  dbf.stored_text.assign(dbf.record.begin(), dbf.record.end());
}

bool CheckRead(DbfFile& dbf, int32_t n) {
  Errors().DbfError = 0;
  return CheckOpen(dbf, "  [GetDbfRecord]") && CheckRecordNumber(dbf, n, "GetDbfRecord");
}

// Record n alone, straight from the file.
void ReadSingle(DbfFile& dbf, int32_t n) {
  dbf.at_end = dbf.at_beginning = false;
  // Read into a spare buffer so a failed read keeps the current record.
  std::vector<char>& spare = dbf.scratch;
  spare.resize(dbf.record_length);
  size_t got = 0;
  uint16_t code = dbf.file->ReadAt(dbf.RecordOffset(n), spare.data(), spare.size(), got);
  if (code == 0 && got < spare.size()) code = 213;
  if (code != 0) {
    ReportError(code, FileContext(dbf, "  [GetDbfRecord]"));
    return;
  }
  dbf.record.swap(spare);
  dbf.current_record = n;
  TranslateRead(dbf);
}

int32_t RecordsPerWindow(const DbfFile& dbf) {
  return static_cast<int32_t>(std::max<size_t>(1, kReadWindowBytes / std::max<size_t>(dbf.record_length, 1)));
}

// Fills `w` with the records from `first` on, up to the known count. A
// failed or short read leaves it empty: each record is then read alone and
// a record cut short is reported as such.
void FillPiece(const DbfFile& dbf, ReadWindow& w, int32_t first) {
  w.count = 0;
  const size_t length = std::max<size_t>(dbf.record_length, 1);
  const int64_t records = std::min<int64_t>(RecordsPerWindow(dbf), int64_t{dbf.record_count} - first + 1);
  if (records < 1) return;
  w.bytes.resize(static_cast<size_t>(records) * length);
  size_t got = 0;
  if (dbf.file->ReadAt(dbf.RecordOffset(first), w.bytes.data(), w.bytes.size(), got) != 0) return;
  if (got != w.bytes.size()) return;
  w.first = first;
  w.count = static_cast<int32_t>(records);
}

int32_t PageOf(const DbfFile& dbf, int32_t n) { return (n - 1) / RecordsPerWindow(dbf); }

const ReadWindow* HeldPage(const DbfFile& dbf, int32_t n) {
  const auto& pages = dbf.record_pages.pages;
  // A record number from a damaged index may be anything: no page holds
  // one below 1, and its page number would not be computable.
  if (pages.empty() || n < 1) return nullptr;
  const auto it = pages.find(PageOf(dbf, n));
  return it != pages.end() && it->second.Holds(n) ? &it->second : nullptr;
}

// Keeps the page of record n, the oldest one giving way (and its buffer)
// when the budget is spent; nullptr when the budget holds no page or the
// read fails.
const ReadWindow* FillPage(DbfFile& dbf, int32_t n) {
  RecordPages& cache = dbf.record_pages;
  const size_t page_bytes = static_cast<size_t>(RecordsPerWindow(dbf)) * std::max<size_t>(dbf.record_length, 1);
  const size_t most = Engine().table.RecordPageBytes / page_bytes;
  if (most == 0) return nullptr;
  const int32_t page = PageOf(dbf, n);
  ReadWindow w;
  // A page kept while the count was lower ends before n: it is read again.
  if (auto it = cache.pages.find(page); it != cache.pages.end()) {
    w = std::move(it->second);
    cache.pages.erase(it);
    std::erase(cache.order, page);
  }
  while (cache.order.size() >= most) {
    w = std::move(cache.pages[cache.order.front()]);
    cache.pages.erase(cache.order.front());
    cache.order.pop_front();
  }
  FillPiece(dbf, w, page * RecordsPerWindow(dbf) + 1);
  if (!w.Holds(n)) return nullptr;
  cache.order.push_back(page);
  return &(cache.pages[page] = std::move(w));
}

const char* HeldRecord(const DbfFile& dbf, const ReadWindow& w, int32_t n) {
  return w.bytes.data() + static_cast<size_t>(n - w.first) * dbf.record_length;
}

// The stored bytes of record n from the window or a page, filling one as
// `ahead` allows; nullptr when the record is to be read alone.
const char* CachedRecord(DbfFile& dbf, int32_t n, ReadAhead ahead) {
  const bool may_fill = ahead != ReadAhead::kHeldOnly && !dbf.wrote_since_read;
  dbf.wrote_since_read = false;
  if (dbf.window.Holds(n)) return HeldRecord(dbf, dbf.window, n);
  if (const ReadWindow* page = HeldPage(dbf, n)) return HeldRecord(dbf, *page, n);
  if (!may_fill) return nullptr;
  if (ahead == ReadAhead::kPaged) {
    const ReadWindow* page = FillPage(dbf, n);
    return page != nullptr ? HeldRecord(dbf, *page, n) : nullptr;
  }
  FillPiece(dbf, dbf.window, ahead == ReadAhead::kForward ? n : std::max(1, n - RecordsPerWindow(dbf) + 1));
  return dbf.window.Holds(n) ? HeldRecord(dbf, dbf.window, n) : nullptr;
}

// A write of the area: what it cached is gone, and the next read is alone.
void DropAfterWrite(DbfFile& dbf) {
  DropReadWindow(dbf);
  dbf.wrote_since_read = true;
}

}  // namespace

void GetDbfRecord(DbfFile& dbf, int32_t n) {
  DropReadWindow(dbf);
  dbf.wrote_since_read = false;
  if (CheckRead(dbf, n)) ReadSingle(dbf, n);
}

void GetDbfRecordAhead(DbfFile& dbf, int32_t n, ReadAhead ahead) {
  if (!CheckRead(dbf, n)) return;
  // What the cache cannot give (a record cut short, a failed read) is
  // read alone, to be reported as such.
  const char* at = CachedRecord(dbf, n, ahead);
  if (at == nullptr) {
    ReadSingle(dbf, n);
    return;
  }
  dbf.at_end = dbf.at_beginning = false;
  dbf.current_record = n;
  const size_t length = dbf.record_length;
  if (dbf.oem && !dbf.read_filter && length > 1) {
    // The usual translated read, the text translated straight from the
    // window into the record; as TranslateRead, plain ASCII keeps no image.
    dbf.record.resize(length);
    dbf.record[0] = at[0];
    if (!HasHighBytes(at + 1, length - 1)) {
      std::memcpy(dbf.record.data() + 1, at + 1, length - 1);
      dbf.stored.clear();
      dbf.stored_text.clear();
      dbf.stored_text_due = false;
      return;
    }
    dbf.stored.assign(at, at + length);
    OemToAnsiCopy(at + 1, dbf.record.data() + 1, length - 1);
    // The text image is the same translation of `stored`: made when asked.
    dbf.stored_text_due = true;
    return;
  }
  dbf.record.assign(at, at + length);
  TranslateRead(dbf);
}

void PrefetchRecord(const DbfFile& dbf, int32_t n) {
  if (const ReadWindow* page = HeldPage(dbf, n)) __builtin_prefetch(HeldRecord(dbf, *page, n));
}

const char* WindowRecord(DbfFile& dbf, int32_t n) {
  if (!dbf.is_open() || !dbf.file || n < 1 || n > dbf.record_count) return nullptr;
  if (!dbf.window.Holds(n)) FillPiece(dbf, dbf.window, n);
  return dbf.window.Holds(n) ? HeldRecord(dbf, dbf.window, n) : nullptr;
}

void DropReadWindow(DbfFile& dbf) {
  dbf.window.count = 0;
  dbf.record_pages.pages.clear();
  dbf.record_pages.order.clear();
}

bool OthersMayWrite(const DbfFile& dbf) {
  const uint16_t share = dbf.open_mode & fmode::kShareMask;
  return share != fmode::kDenyAll && share != fmode::kDenyWrite;
}

bool TranslatesText(const DbfFile& dbf) { return dbf.oem || dbf.read_filter || dbf.write_filter; }

namespace {

bool HasStoredImage(const DbfFile& dbf) {
  return dbf.stored.size() == dbf.record.size() && (dbf.stored_text_due || dbf.stored_text.size() == dbf.record.size());
}

// Fields whose text is what was read (or last written) go back to the file
// as the bytes that were there, not through the translation.
void KeepStoredFields(DbfFile& dbf, std::vector<char>& out) {
  const char* text = StoredText(dbf);
  if (text == nullptr) return;
  for (const FieldEntry& f : dbf.fields) {
    if (std::memcmp(dbf.record.data() + f.offset, text + f.offset, f.length) == 0) {
      std::memcpy(out.data() + f.offset, dbf.stored.data() + f.offset, f.length);
    }
  }
}

}  // namespace

const char* StoredText(DbfFile& dbf) {
  if (!HasStoredImage(dbf)) return nullptr;
  if (dbf.stored_text_due) {
    dbf.stored_text.assign(dbf.stored.begin(), dbf.stored.end());
    if (dbf.stored_text.size() > 1) OemToAnsiBuf(dbf.stored_text.data() + 1, dbf.stored_text.size() - 1);
    dbf.stored_text_due = false;
  }
  return dbf.stored_text.data();
}

void SetStoredField(DbfFile& dbf, const FieldEntry& f, const char* disk, const char* text) {
  std::memcpy(dbf.record.data() + f.offset, text, f.length);
  if (!TranslatesText(dbf)) return;
  if (StoredText(dbf) == nullptr) {
    // No image yet: an all-blank record, the same in both code pages.
    dbf.stored.assign(dbf.record.size(), ' ');
    dbf.stored_text.assign(dbf.record.size(), ' ');
    dbf.stored_text_due = false;
  }
  std::memcpy(dbf.stored.data() + f.offset, disk, f.length);
  std::memcpy(dbf.stored_text.data() + f.offset, text, f.length);
}

void PutDbfRecord(DbfFile& dbf, int32_t n) {
  Errors().DbfError = 0;
  constexpr const char* kRoutine = " [Replace/Append/PutDbfRecord]";
  if (!CheckOpen(dbf, kRoutine)) return;
  const bool append = n > dbf.record_count;
  const int32_t limit = dbf.layout == DbfLayout::kDbase2 ? 65535 : INT32_MAX;
  if (n < 1 || (append && dbf.record_count >= limit)) {
    ReportError(err::kBeyondRange, "Invalid record number = " + std::to_string(n) + " (" + dbf.path + ")  " +
                                       "[Replace/Append/PutDbfRecord]");
    return;
  }
  if (append) n = dbf.record_count + 1;
  DropAfterWrite(dbf);
  // Translate a copy: translating the buffer back would lose characters
  // that have no twin in the other code page.
  std::vector<char>& out = dbf.scratch;
  out.assign(dbf.record.begin(), dbf.record.end());
  if (dbf.oem) AnsiToOemBuf(out.data() + 1, out.size() - 1);
  if (dbf.write_filter) dbf.write_filter(out.data() + 1, out.size() - 1);
  if (TranslatesText(dbf)) KeepStoredFields(dbf, out);
  const uint16_t code =
      append ? WriteAppended(dbf, out, n) : dbf.file->WriteAt(dbf.RecordOffset(n), out.data(), out.size());
  if (code != 0) {
    ReportError(code, FileContext(dbf, kRoutine));
    return;
  }
  if (TranslatesText(dbf)) {
    dbf.stored.assign(out.begin(), out.end());
    dbf.stored_text.assign(dbf.record.begin(), dbf.record.end());
    dbf.stored_text_due = false;
  }
  if (append) {
    dbf.record_count = n;
    dbf.current_record = n;
    dbf.state = DbfState::kAppended;
    if (Engine().table.FlushEachWrite) FlushDbf(dbf);
    return;
  }
  if (dbf.state != DbfState::kAppended) dbf.state = DbfState::kChanged;
  if (Engine().table.FlushEachWrite) FlushFile(*dbf.file);
}

void AppendDbfRecord(DbfFile& dbf) { PutDbfRecord(dbf, dbf.record_count + 1); }

void PutDeleteFlag(DbfFile& dbf, int32_t n) {
  Errors().DbfError = 0;
  constexpr const char* kRoutine = " [DeleteRec/RecallRec]";
  if (!CheckOpen(dbf, kRoutine)) return;
  if (!CheckRecordNumber(dbf, n, "DeleteRec/RecallRec")) return;
  DropAfterWrite(dbf);
  uint16_t code = dbf.file->WriteAt(dbf.RecordOffset(n), dbf.record.data(), 1);
  if (code != 0) {
    ReportError(code, FileContext(dbf, kRoutine));
    return;
  }
  if (dbf.state != DbfState::kAppended) dbf.state = DbfState::kChanged;
  if (Engine().table.FlushEachWrite) FlushFile(*dbf.file);
}

void FlushDbf(DbfFile& dbf) {
  Errors().DbfError = 0;
  DropReadWindow(dbf);
  if (dbf.state == DbfState::kClosed || dbf.state == DbfState::kClean || !dbf.file) return;
  uint16_t code = WriteHeaderAndEof(dbf);
  dbf.state = DbfState::kClean;
  if (code != 0) {
    ReportError(code, "File: " + dbf.path + " [FlushDbf]");
    return;
  }
  FlushFile(*dbf.file);
}

void FlushFile(File& file) {
  uint16_t code = file.Sync();
  if (code != 0) ReportError(code, "Unable to flush file [FlushFile]");
}

void CloseDbf(DbfFile& dbf) {
  Errors().DbfError = 0;
  if (!dbf.file) {
    ReleaseDbf(dbf);
    return;
  }
  uint16_t code = 0;
  if (dbf.state == DbfState::kChanged || dbf.state == DbfState::kAppended) code = WriteHeaderAndEof(dbf);
  uint16_t close_code = dbf.file->Close();
  if (code == 0) code = close_code;
  ReleaseDbf(dbf);
  if (code != 0) ReportError(code, "File: " + dbf.path + " [CloseDbf(" + dbf.path + ")]");
}

}  // namespace ov
