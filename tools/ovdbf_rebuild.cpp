#include "tools/ovdbf_rebuild.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>
#include <utility>

#include "engine/dbf/dbf4.h"
#include "engine/dbf/dbf4_append.h"
#include "engine/dbf/file_set.h"
#include "engine/expr/ovparser.h"
#include "engine/support/engine_state.h"
#include "engine/support/error_codes.h"
#include "engine/support/ovcommon.h"
#include "engine/support/ovutils.h"
#include "engine/support/platform.h"
#include "engine/support/scope_guard.h"
#include "tools/ovdbf_progress.h"

namespace ov::cli {
namespace {

// Progress calls per tag: enough for the bar to move in small steps.
constexpr int kIndexSteps = 1000;
constexpr size_t kShapeBytes = 64;  // the header up to the level-7 driver name
constexpr size_t kLanguageByte = 29;
constexpr size_t kDriverName = 32;
constexpr uint64_t kIndexTableName = 4;  // 16 bytes of the index header
constexpr size_t kIndexTableNameBytes = 16;
constexpr int kScratchArea = 1;
constexpr int kHeldArea = 2;

std::vector<std::string> SplitSpec(const std::string& spec) {
  std::vector<std::string> parts;
  size_t from = 0;
  for (size_t comma; (comma = spec.find(',', from)) != std::string::npos; from = comma + 1) {
    parts.push_back(TrimText(spec.substr(from, comma - from)));
  }
  parts.push_back(TrimText(spec.substr(from)));
  return parts;
}

bool ParseCount(const std::string& text, int& value) {
  if (text.empty() || text.size() > 3 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  value = std::stoi(text);
  return true;
}

// The table's level for CreateDbf: its own where the engine writes it, else
// the engine's default.
uint8_t CreateVersionFor(const TableShape& shape) {
  if (shape.layout == DbfLayout::kLevel7) return 0x8C;
  const uint8_t v = shape.header.empty() ? 0 : shape.header[0];
  return v == 0x83 || v == 0xF5 ? v : 0x8B;
}

void WriteBytes(const std::string& path, uint64_t offset, const void* bytes, size_t n) {
  std::unique_ptr<File> file;
  uint16_t code = OpenResolved(path, fmode::kReadWrite | fmode::kDenyAll, Disposition::kOpenExisting, file);
  if (code == 0) code = file->WriteAt(offset, bytes, n);
  if (code == 0) code = file->Close();
  if (code != 0) ReportError(code, "Error writing " + path);
}

// The new table speaks the code page of the one it replaces.
void CopyCodePage(const TableShape& from, const std::string& to) {
  if (from.layout == DbfLayout::kDbase2 || from.header.size() < kShapeBytes) return;
  WriteBytes(to, kLanguageByte, &from.header[kLanguageByte], 1);
  if (from.layout == DbfLayout::kLevel7) {
    WriteBytes(to, kDriverName, &from.header[kDriverName], kShapeBytes - kDriverName);
  }
}

void DeleteIfThere(const std::string& path) {
  Env* env = CurrentEnv();
  const std::string real = ResolveName(path);
  if (!real.empty() && env->Exists(real)) (void)env->Delete(real);
}

}  // namespace

bool IsFieldName(const std::string& name) {
  if (name.empty() || name.size() > 10 || std::isalpha(static_cast<unsigned char>(name[0])) == 0) return false;
  return std::all_of(name.begin(), name.end(),
                     [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; });
}

const std::vector<std::string>& Values(const OptionValues& options, const std::string& name) {
  static const std::vector<std::string> none;
  const auto it = options.find(name);
  return it == options.end() ? none : it->second;
}

std::string OptionValue(const OptionValues& options, const std::string& name) {
  const auto it = options.find(name);
  return it == options.end() || it->second.empty() ? std::string() : it->second.back();
}

FieldDef ParseFieldSpec(const std::string& spec) {
  const std::vector<std::string> parts = SplitSpec(spec);
  const Refused bad{"bad field spec \"" + spec + "\" (name,type,length,decimals)", kBadUsage};
  if (parts.size() < 2 || parts.size() > 4 || !IsFieldName(parts[0]) || parts[1].size() != 1) throw bad;
  FieldDef def{UpperText(parts[0]), UpperText(parts[1])[0], 0, 0};
  const bool sized = std::string_view("CNF").find(def.type) != std::string_view::npos;
  if (parts.size() < 3) {
    if (sized) throw bad;
    def.length = def.type == 'D' ? 8 : def.type == 'L' ? 1 : 10;
  } else if (!ParseCount(parts[2], def.length)) {
    throw bad;
  }
  if (parts.size() == 4 && !ParseCount(parts[3], def.decimals)) throw bad;
  return def;
}

std::vector<FieldDef>::iterator FindField(std::vector<FieldDef>& fields, const std::string& name) {
  return std::ranges::find(fields, UpperText(TrimText(name)), &FieldDef::name);
}

std::vector<FieldDef> ParseFieldSpecs(const std::vector<std::string>& specs) {
  std::vector<FieldDef> fields;
  for (const std::string& spec : specs) {
    FieldDef def = ParseFieldSpec(spec);
    if (FindField(fields, def.name) != fields.end()) throw Refused{"field " + def.name + " given twice", kBadUsage};
    fields.push_back(std::move(def));
  }
  return fields;
}

TableShape ReadShape(const std::string& path) {
  DbfFile dbf;
  dbf.path = path;
  dbf.open_mode = fmode::kRead | fmode::kDenyNone;
  OpenDbf(dbf);
  TableShape shape;
  for (const FieldEntry& f : dbf.fields) shape.fields.push_back({f.name, f.type, f.length, f.decimals});
  shape.layout = dbf.layout;
  shape.header.assign(kShapeBytes, 0);
  size_t got = 0;
  if (dbf.file->ReadAt(0, shape.header.data(), kShapeBytes, got) != 0) got = 0;
  shape.header.resize(got);
  CloseDbf(dbf);
  return shape;
}

std::vector<TagDef> ProductionTags(const std::string& table) {
  std::vector<TagDef> tags;
  const std::string mdx = ResolveName(IndexFileName(table, ""));
  if (!FileExistsResolved(mdx)) return tags;
  uint16_t code = 0;
  std::string context;
  if (!ReadTagDefs(mdx, tags, code, context)) throw Refused{ErrorDescription(code) + ": " + context};
  return tags;
}

std::string CompileProblem(std::string expr, bool is_key) {
  int code = 0;
  try {
    code = CheckExpression(expr, is_key);
  } catch (const EOrvelError& e) {
    Errors().DbfError = 0;
    return e.what();
  }
  if (code == 0) return "";
  // The compiler's own report says where the text goes wrong.
  try {
    CompiledExpr* compiled = AssignExpr(expr);
    FreeExpr(compiled);
  } catch (const EOrvelError& e) {
    Errors().DbfError = 0;
    return e.what();
  }
  return ErrorDescription(static_cast<uint16_t>(code));
}

void OpenAlone(int area, const std::string& path, bool raw) {
  AreaConfig().AnsiTables = raw;
  AreaConfig().MultiUser = false;
  Select(area);
  USE(path + " EXCLUSIVE");
}

void BuildProductionIndex(const std::vector<TagDef>& tags, bool quiet) {
  if (tags.empty()) return;
  Progress bar("indexing", static_cast<int64_t>(kIndexSteps * tags.size()), quiet);
  int64_t done = 0;
  SetProgressProc([&](int) { bar.Update(++done); }, kIndexSteps);
  ScopeGuard reset([] { SetProgressProc(nullptr, 0); });
  if (!MakeMdx(tags, "", true)) throw Refused{"the index was not built"};
  (void)SetProductionIndexFlag(true);
}

ScratchSet::ScratchSet(std::string table) : table_(DefaultExt(std::move(table), "DBF")) {
  const std::string beside = ResolveName(table_);
  if (const uint16_t code = SiblingTempFile(beside.empty() ? table_ : beside, placeholder_); code != 0) {
    throw Refused{ErrorDescription(code) + ": no scratch file beside the table"};
  }
  path_ = ForceExt(placeholder_, "DBF");
  for (const char* ext : {"DBF", "DBT", "FPT", "MDX"}) {
    if (CurrentEnv()->Exists(ForceExt(path_, ext))) {
      const std::string taken = ForceExt(path_, ext);
      (void)CurrentEnv()->Delete(placeholder_);
      throw Refused{"scratch name " + taken + " is taken"};
    }
  }
  if (!FileExistsResolved(beside)) return;
  try {
    OpenAlone(kHeldArea, table_, true);
  } catch (...) {
    (void)CurrentEnv()->Delete(placeholder_);
    throw;
  }
}

ScratchSet::~ScratchSet() {
  try {
    Remove();
  } catch (...) {
    // Nothing may leave a destructor; what is left is named OVP*.
  }
}

void ScratchSet::Remove() {
  {
    QuietErrors quiet;
    CloseAll();
  }
  for (const char* ext : {"DBF", "DBT", "FPT", "MDX"}) DeleteIfThere(ForceExt(path_, ext));
  DeleteIfThere(ResolveName(IndexFileName(path_, "")) + ".$$$");
  DeleteIfThere(placeholder_);
}

void ScratchSet::Create(const std::vector<FieldDef>& fields, const TableShape* like, uint8_t version) {
  uint8_t& create_version = Engine().table.CreateVersion;
  const uint8_t saved = create_version;
  ScopeGuard restore([&] { create_version = saved; });
  if (like != nullptr) version = CreateVersionFor(*like);
  if (version != 0) create_version = version;
  level7_ = create_version == 0x8C;
  DbfFile dbf;
  try {
    CreateDbf(dbf, path_, fields);
  } catch (const EOrvelError& e) {
    // Definitions the engine cannot lay out are the caller's mistake.
    if (Errors().DbfError == err::kBadFieldDefinition) throw Refused{e.what(), kBadUsage};
    throw;
  }
  if (Errors().DbfError != 0) throw Refused{ErrorText()};
  if (like != nullptr) CopyCodePage(*like, path_);
}

void ScratchSet::Open(bool raw) { OpenAlone(kScratchArea, path_, raw); }

void ScratchSet::Close() {
  Select(kScratchArea);
  CloseArea();
}

void ScratchSet::CopyRecords(bool skip_deleted, bool quiet) {
  Select(kHeldArea);
  SetIgnoreDel(skip_deleted);
  GoTop();
  Progress bar("copying", RecCount(), quiet);
  Open(true);
  int64_t done = 0;
  // The source is the held area: AppendFrom reads it from its first record.
  AppendFrom(table_, [&] {
    bar.Update(++done);
    return true;
  });
  if (Errors().DbfError != 0) throw Refused{ErrorText()};
  Close();
}

void ScratchSet::RenameFields(const std::vector<std::pair<size_t, std::string>>& renames) {
  // Descriptors: 48 bytes from offset 68, name in 32 (level 7); 32 bytes
  // from offset 32, name in 11 (the others).
  const uint64_t first = level7_ ? 68 : 32;
  const uint64_t size = level7_ ? 48 : 32;
  for (const auto& [index, name] : renames) {
    std::string bytes(level7_ ? 32 : 11, '\0');
    bytes.replace(0, name.size(), name);
    WriteBytes(path_, first + index * size, bytes.data(), bytes.size());
  }
}

void ScratchSet::BuildIndex(const std::vector<TagDef>& tags, bool quiet) {
  if (tags.empty()) return;
  Open(false);
  BuildProductionIndex(tags, quiet);
  Close();
  // The index names the table it belongs to.
  char name[kIndexTableNameBytes] = {};
  const std::string base = SplitName(table_).name;
  std::memcpy(name, base.data(), std::min(base.size(), kIndexTableNameBytes - 1));
  WriteBytes(ResolveName(IndexFileName(path_, "")), kIndexTableName, name, sizeof name);
}

void ScratchSet::Place() {
  Close();
  if (FileExistsResolved(ResolveName(table_)) && !CopyFileSet(table_, "")) throw Refused{ErrorText()};
  // An open file cannot be deleted: the table is let go only now.
  Select(kHeldArea);
  CloseArea();
  if (!CopyFileSet(path_, table_)) throw Refused{ErrorText()};
}

}  // namespace ov::cli
