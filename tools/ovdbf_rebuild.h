// What the tool's writing commands share: a new file set built beside a
// table under a temporary name and put in its place only when it is whole,
// the production index rebuilt from a tag list, and the refusals that end
// a command.
//
// A scratch set is "OVPnnnnn.DBF" (with its memo and index files) in the
// table's folder, reserved by an "OVPnnnnn.TMP" placeholder. Placing it
// copies the table's set to the "~BF", "~BT", "~DX" backups, then copies
// the scratch set onto the table's names (each step all or nothing); every
// scratch file is gone on every path.
//
// The table itself is held open exclusively until its backups are made, so
// no other user of the engine writes to it while its replacement is built.
//
// Single-threaded, process-wide state (the engine's work areas 1 and 2).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "engine/dbf/ovdbflow.h"
#include "engine/index/umakemdx.h"

namespace ov::cli {

inline constexpr int kFailed = 1;
inline constexpr int kBadUsage = 2;

// A request the tool refuses, or a step that failed: the problem in one
// line, the exit status, and what to name when not the command's file
// (a CSV file and line).
struct Refused {
  explicit Refused(std::string why, int exit_status = kFailed, std::string what = "")
      : problem(std::move(why)), status(exit_status), subject(std::move(what)) {}
  std::string problem;
  int status;
  std::string subject;
};

// Every value of each option, in the order given; a flag has one "".
using OptionValues = std::map<std::string, std::vector<std::string>>;

// The values of an option (none when it was not given), and its last one.
const std::vector<std::string>& Values(const OptionValues& options, const std::string& name);
std::string OptionValue(const OptionValues& options, const std::string& name);

// A field name a table can hold: a letter, then letters, digits or "_",
// at most 10 in all.
bool IsFieldName(const std::string& name);

// "name,type,length,decimals"; length and decimals may be left out for
// D, L and M fields. Throws Refused (usage) for a malformed spec.
FieldDef ParseFieldSpec(const std::string& spec);
// Specs of distinct fields.
std::vector<FieldDef> ParseFieldSpecs(const std::vector<std::string>& specs);
// The field of that name (any case), or end.
std::vector<FieldDef>::iterator FindField(std::vector<FieldDef>& fields, const std::string& name);

// The structure of a table: fields as definitions, and its first 64 header
// bytes (language byte, level-7 driver name). Throws the engine's error.
struct TableShape {
  std::vector<FieldDef> fields;
  std::vector<uint8_t> header;
  DbfLayout layout = DbfLayout::kDbase3;
};
TableShape ReadShape(const std::string& path);

// The tags of the table's production index; none when it has none. Throws
// Refused when the index cannot be read.
std::vector<TagDef> ProductionTags(const std::string& table);

// "" when `expr` compiles against the current area as an index key
// (`is_key`) or a condition, else the engine's reason.
std::string CompileProblem(std::string expr, bool is_key);

// Opens `path` alone in area `area` (1 or 2), its text as stored when `raw`.
void OpenAlone(int area, const std::string& path, bool raw);

class ScratchSet {
 public:
  // Reserves a scratch name beside `table` and holds the table, when it
  // exists. Throws Refused, or the engine's error.
  explicit ScratchSet(std::string table);
  ~ScratchSet();
  ScratchSet(const ScratchSet&) = delete;
  ScratchSet& operator=(const ScratchSet&) = delete;

  const std::string& path() const { return path_; }

  // Creates the scratch table; with `like`, of that table's level and code
  // page, else of `version` (0: the engine's default).
  void Create(const std::vector<FieldDef>& fields, const TableShape* like, uint8_t version = 0);
  // Opens the scratch table alone in area 1 (its text as stored when
  // `raw`), and closes it again.
  void Open(bool raw);
  void Close();
  // Copies the records of the held table (deleted ones unless
  // `skip_deleted`) into the scratch table through AppendFrom, memos with
  // them.
  void CopyRecords(bool skip_deleted, bool quiet);
  // Gives fields (by index) new names in the scratch table's header.
  void RenameFields(const std::vector<std::pair<size_t, std::string>>& renames);
  // Builds `tags` into the scratch table's production index.
  void BuildIndex(const std::vector<TagDef>& tags, bool quiet);
  // Puts the scratch set in the table's place, the former set kept as
  // backups when there was one.
  void Place();

 private:
  void Remove();

  std::string table_;
  std::string placeholder_;
  std::string path_;
  bool level7_ = false;
};

// Builds `tags` into the production index of the table open in the current
// area, with a progress bar, and marks the table as having one. An empty
// list builds nothing.
void BuildProductionIndex(const std::vector<TagDef>& tags, bool quiet);

}  // namespace ov::cli
