#include "engine/index/umakemdx.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "engine/dbf/dbf4.h"
#include "engine/expr/evaluate.h"
#include "engine/expr/ovparser.h"
#include "engine/index/index_engine.h"
#include "engine/index/mdx_build.h"
#include "engine/support/ovcommon.h"
#include "engine/support/ovutils.h"
#include "engine/support/scope_guard.h"

namespace ov {

namespace {

constexpr int64_t kMinBuildMemory = 10000;
constexpr size_t kMaxTagName = 10;

// Releases a compiled expression with its owner.
struct ExprHolder {
  CompiledExpr* expr = nullptr;
  ExprHolder() = default;
  ExprHolder(const ExprHolder&) = delete;
  ExprHolder& operator=(const ExprHolder&) = delete;
  ~ExprHolder() { FreeExpr(expr); }
};

bool Fail(uint16_t code, const std::string& context) {
  ReportError(code, context);
  return false;
}

bool TagFail(uint16_t code, const std::string& context) { return Fail(code, context + " [AddIndexTag()]"); }

// The key format of a compiled key expression; false (reported) when its
// type cannot be indexed or a character key's width is not 1..100.
bool KeyFormatOf(CompiledExpr& key, WorkArea& area, const TagDef& def, KeyFormat& f) {
  f.type = key.result_type;
  f.descending = def.descending;
  if (!mdx::IsKeyType(f.type)) return TagFail(err::kInternal, "Wrong_ParserReturnType");
  f.length = mdx::KeyLengthOf(f.type, key.result_type == 'C' ? CharKeyWidth(key, area) : 0);
  if (f.length < 1 || f.length > mdx::kMaxKeyLength) {
    return TagFail(err::kBadSize, "incorrect_key_length_returned_by_user_defined_keymaker");
  }
  return true;
}

// Appends the tag header block and enters the tag in the tag table.
bool EnterTag(const TagDef& def, const mdx::TagHeader& tag, MdxTarget& target) {
  const mdx::Block block = mdx::EncodeTagHeader(tag);
  const uint32_t at = mdx::NextBlock(target.size);
  if (const uint16_t code = mdx::WriteAt(*target.file, at, block.data(), block.size())) {
    return TagFail(code, "Error writing index file: " + target.path + " [MakeIndex]");
  }
  target.size = mdx::BlockOffset(at) + mdx::kBlockSize;
  mdx::MdxHeader& h = target.header;
  if (const int old = h.FindTag(def.name)) h.RemoveTag(old);
  (void)h.AddTag(mdx::TagSlot{at, def.name, tag.key_type});
  h.set_block_count(tag.root + 2);
  return true;
}

std::string TableName(const WorkArea& area) { return area.table.path; }

// Reopens the table as it was when a build that needed it exclusive ends.
class ExclusiveUse {
 public:
  ExclusiveUse() = default;
  ExclusiveUse(const ExclusiveUse&) = delete;
  ExclusiveUse& operator=(const ExclusiveUse&) = delete;
  bool Take(WorkArea& area, const std::string& name) {
    if (area.exclusive) return true;
    if (ReopenTable(true) != 0) {
      return Fail(err::kExclusiveRequired, TableName(area) + " MakeIndex(" + name + ")");
    }
    name_ = name;
    taken_ = true;
    return true;
  }
  ~ExclusiveUse() noexcept(false) {
    if (!taken_) return;
    const uint16_t code = ReopenTable(false);
    if (code != 0 && Errors().DbfError == 0 && std::uncaught_exceptions() == 0) {
      ReportError(code, "Cannot_Reopen_Database_Sharable MakeIndex(" + name_ + ")");
    }
  }

 private:
  std::string name_;
  bool taken_ = false;
};

bool OpenTarget(const std::string& path, const std::string& shown, bool fresh, const std::string& table, MdxTarget& t) {
  t.path = shown;
  const uint16_t code = OpenResolved(path, fmode::kReadWrite | fmode::kDenyAll,
                                     fresh ? Disposition::kCreateTruncate : Disposition::kOpenExisting, t.file);
  if (code != 0) return Fail(code, "Unable to open index: " + shown);
  if (fresh) {
    t.header = mdx::MdxHeader::New(SplitName(table).name, CurrentEnv()->Today());
    t.size = mdx::kHeaderSize;
    return true;
  }
  if (t.file->Size(t.size) != 0 || mdx::ReadAt(*t.file, 0, t.header.bytes.data(), mdx::kHeaderSize) != 0 ||
      t.header.tag_count() > mdx::kMaxTags) {
    return Fail(err::kBadIndex, "Unable to open index: " + shown);
  }
  return true;
}

bool BuildAll(const std::vector<TagDef>& tags, MdxTarget& t) {
  bool all = true;
  for (const TagDef& def : tags) {
    if (def.name.empty()) break;
    all = AddIndexTag(def, t) && all;
  }
  const uint16_t code = mdx::WriteAt(*t.file, 0, t.header.bytes.data(), mdx::kHeaderSize);
  if (code != 0) return Fail(code, "Error writing index file: " + t.path + " [MakeIndex]");
  const uint16_t closed = t.file->Close();
  t.file.reset();
  if (closed != 0) return Fail(closed, "Error closing index file: " + t.path + " [MakeIndex]");
  return all;
}

}  // namespace

// The width of a character key: the compiled width when the compiler
// knows it, else the value's length on the blank record past the end (as
// an open checks it), so a variable-width key has one width everywhere.
uint16_t CharKeyWidth(CompiledExpr& key, WorkArea& area) {
  if (key.result_length > 0) return key.result_length;
  DbfFile& t = area.table;
  const int32_t saved = t.current_record;
  auto restore = ScopeGuard([&] { t.current_record = saved; });
  t.current_record = t.record_count + 1;
  const void* r = Evaluate(&key);
  return r == nullptr ? 0 : static_cast<uint16_t>(strnlen(static_cast<const char*>(r), 256));
}

std::string IndexFileName(const std::string& table_path, const std::string& given) {
  if (given.empty()) return ForceExt(table_path, "MDX");
  std::string name = DefaultExt(given, "MDX");
  if (name.find('/') == std::string::npos && name.find('\\') == std::string::npos &&
      name.find(':') == std::string::npos) {
    name = SplitName(table_path).dir + name;
  }
  return name;
}

void SetProgressProc(std::function<void(int)> proc, int steps) {
  IndexEngineState& s = IndexEngine();
  s.progress = proc ? std::move(proc) : nullptr;
  s.progress_steps = s.progress ? steps : 0;
}

bool AddIndexTag(const TagDef& def_in, MdxTarget& target) {
  WorkArea* area = CurrentArea();
  if (area == nullptr) return Fail(err::kNoDatabase, "No database in use [AddIndexTag()]");
  TagDef def = def_in;
  def.name = UpperText(def.name.substr(0, kMaxTagName));
  // A 48th tag has no slot: refused before anything is written.
  if (target.header.tag_count() >= mdx::kMaxTags && target.header.FindTag(def.name) == 0) {
    return TagFail(err::kTooManyTags, "Index file " + target.path + " already holds 47 tags; tag " + def.name);
  }
  if (!TrimText(def.for_expr).empty()) {
    if (const int code = CheckExpression(def.for_expr, false)) {
      return TagFail(static_cast<uint16_t>(code), "Invalid FOR expression for " + def.name);
    }
  } else {
    def.for_expr.clear();
  }
  if (def.key.size() > mdx::kMaxExprText) return TagFail(err::kKeyTooLong, "NDX_expression_too_big");
  ExprHolder key, cond;
  key.expr = AssignExpr(def.key);
  if (key.expr == nullptr) return false;
  BuildSpec spec;
  if (!KeyFormatOf(*key.expr, *area, def, spec.format)) return false;
  if (!def.for_expr.empty()) {
    cond.expr = AssignExpr(def.for_expr);
    if (cond.expr == nullptr) return false;
  }
  spec.key = key.expr;
  spec.cond = cond.expr;
  spec.unique = def.unique;
  BuildResult built;
  BuildFailure failure;
  if (!BuildTree(*area, spec, target, built, failure)) return TagFail(failure.code, failure.context);
  mdx::TagHeader tag;
  tag.root = built.root;
  tag.key_type = spec.format.type;
  tag.key_length = spec.format.length;
  tag.descending = def.descending;
  tag.unique = def.unique;
  tag.has_keys = built.has_keys;
  tag.key_expr = def.key;
  tag.for_expr = def.for_expr;
  return EnterTag(def, tag, target);
}

bool MakeMdx(const std::vector<TagDef>& tags, const std::string& given, bool overwrite) {
  WorkArea* area = CurrentArea();
  if (area == nullptr)
    return Fail(err::kNoDatabase, "No database in use [MakeIndex]  WorkArea = " + std::to_string(SelectedArea()));
  const std::string name = IndexFileName(area->table.path, given);
  if (IndexEngine().close_all) IndexEngine().close_all(*area);
  ExclusiveUse exclusive;
  if (!overwrite && !exclusive.Take(*area, name)) return false;
  if (IndexEngine().BuildMemory < kMinBuildMemory) return Fail(err::kNoMemory, "Not enough memory to build index");
  const std::string resolved = ResolveName(name);
  const bool in_place = !overwrite && CurrentEnv()->Exists(resolved);
  // A new or rebuilt file is made beside the table and takes the index's
  // name only once every tag is in it.
  const std::string work = in_place ? resolved : resolved + ".$$$";
  MdxTarget t;
  auto discard = ScopeGuard([&] {
    t.file.reset();
    if (!in_place) (void)CurrentEnv()->Delete(work);
  });
  if (!OpenTarget(work, name, !in_place, area->table.path, t)) return false;
  if (!BuildAll(tags, t)) return false;
  if (!in_place) {
    if (const uint16_t code = CurrentEnv()->Rename(work, resolved)) {
      return Fail(code, "Unable to open index: " + name + " [MakeIndex]");
    }
  }
  discard.Dismiss();
  return true;
}

bool MakeIndex(const std::vector<TagDef>& tags, const std::string& name) {
  if (!MakeMdx(tags, name, true)) return false;
  IndexEngineState& s = IndexEngine();
  WorkArea* area = CurrentArea();
  return !s.open || area == nullptr || s.open(*area, name);
}

bool ReadTagDefs(const std::string& path, std::vector<TagDef>& defs, uint16_t& code, std::string& context) {
  std::unique_ptr<File> file;
  context = "Unable to open index: " + path;
  code = OpenResolved(path, fmode::kRead | fmode::kDenyNone, Disposition::kOpenExisting, file);
  if (code != 0) return false;
  mdx::MdxHeader h;
  code = err::kBadIndex;
  if (mdx::ReadAt(*file, 0, h.bytes.data(), mdx::kHeaderSize) != 0 || h.tag_count() > mdx::kMaxTags) return false;
  context = "Invalid dBASE key expression or corrupted index file " + path;
  defs.clear();
  for (int i = 1; i <= h.tag_count(); ++i) {
    const mdx::TagSlot slot = h.slot(i);
    uint8_t anchor[mdx::kAnchorSize];
    mdx::TagHeader tag;
    if (mdx::ReadAt(*file, slot.header_block, anchor, sizeof anchor) != 0 || !mdx::DecodeTagHeader(anchor, tag)) {
      return false;
    }
    defs.push_back(TagDef{slot.name, tag.key_expr, tag.for_expr, tag.descending, tag.unique});
  }
  code = 0;
  return true;
}

bool ReindexFile(const std::string& path) {
  std::vector<TagDef> defs;
  uint16_t code = 0;
  std::string context;
  if (!ReadTagDefs(path, defs, code, context)) return Fail(code, context + " [Reindex()]");
  return MakeMdx(defs, path, true);
}

bool Reindex() {
  WorkArea* area = CurrentArea();
  IndexEngineState& s = IndexEngine();
  const std::string path = area != nullptr && s.open_file ? s.open_file(*area) : std::string();
  if (path.empty()) {
    return Fail(err::kIndexNotOpen,
                "Index not open. (DBF=" + (area != nullptr ? TableName(*area) : std::string()) + ") [Reindex]");
  }
  const std::string active = s.active_tag ? s.active_tag(*area) : std::string();
  // The area lets go of the file first: the rebuild replaces it whole.
  if (s.close_all) s.close_all(*area);
  if (!ReindexFile(path)) return false;
  if (s.open && !s.open(*area, path)) return false;
  return active.empty() || !s.select_tag || s.select_tag(*area, active);
}

}  // namespace ov
