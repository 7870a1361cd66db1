#include "tools/ovdbf_edit.h"

#include <algorithm>
#include <iostream>
#include <utility>
#include <vector>

#include "engine/dbf/dbf4.h"
#include "engine/support/ovcommon.h"
#include "engine/support/ovutils.h"
#include "engine/support/platform.h"

namespace ov::cli {
namespace {

bool Quiet(const OptionValues& options) { return options.contains("--quiet"); }

uint8_t CreateLevel(const std::string& level) {
  if (level.empty()) return 0;
  if (level == "3") return 0x83;
  if (level == "4") return 0x8B;
  if (level == "7") return 0x8C;
  throw Refused{"--level " + level + ": 3, 4 or 7", kBadUsage};
}

std::string TableName(const std::string& file) { return DefaultExt(file, "DBF"); }

// The changed structure, fields under their current names, and the renames
// to make once the records are in (AppendFrom matches fields by name).
struct NewShape {
  std::vector<FieldDef> fields;
  std::vector<std::pair<size_t, std::string>> renames;  // field index, new name
};

std::vector<FieldDef>::iterator Existing(std::vector<FieldDef>& fields, const std::string& name,
                                         const std::string& option) {
  const auto it = FindField(fields, name);
  if (it == fields.end()) throw Refused{option + " " + name + ": no such field", kBadUsage};
  return it;
}

NewShape ChangedShape(std::vector<FieldDef> fields, const OptionValues& options) {
  for (const std::string& name : Values(options, "--drop")) fields.erase(Existing(fields, name, "--drop"));
  for (const std::string& spec : Values(options, "--set")) {
    const FieldDef def = ParseFieldSpec(spec);
    *Existing(fields, def.name, "--set") = def;
  }
  NewShape shape;
  std::vector<std::string> taken;
  for (const FieldDef& f : fields) taken.push_back(f.name);
  for (const std::string& rename : Values(options, "--rename")) {
    const size_t eq = rename.find('=');
    const std::string to = UpperText(TrimText(rename.substr(eq == std::string::npos ? rename.size() : eq + 1)));
    if (eq == std::string::npos || !IsFieldName(to)) throw Refused{"--rename " + rename + ": OLD=NEW", kBadUsage};
    const auto it = Existing(fields, rename.substr(0, eq), "--rename");
    if (std::ranges::find(taken, to) != taken.end())
      throw Refused{"--rename " + rename + ": " + to + " exists", kBadUsage};
    taken.push_back(to);
    shape.renames.emplace_back(static_cast<size_t>(it - fields.begin()), to);
  }
  for (const std::string& spec : Values(options, "--add")) {
    FieldDef def = ParseFieldSpec(spec);
    if (std::ranges::find(taken, def.name) != taken.end()) throw Refused{"--add " + def.name + ": exists", kBadUsage};
    taken.push_back(def.name);
    fields.push_back(std::move(def));
  }
  if (fields.empty()) throw Refused{"no fields left", kBadUsage};
  shape.fields = std::move(fields);
  return shape;
}

// The tags whose expressions still compile against the scratch table; the
// others are named on stderr.
std::vector<TagDef> TagsThatCompile(const std::string& file, ScratchSet& scratch, std::vector<TagDef> tags) {
  scratch.Open(false);
  std::erase_if(tags, [&](const TagDef& t) {
    std::string why = CompileProblem(t.key, true);
    if (why.empty() && !TrimText(t.for_expr).empty()) why = CompileProblem(t.for_expr, false);
    if (why.empty()) return false;
    std::cerr << "ovdbf: " << file << ": tag " << t.name << " left out, its key or condition no longer compiles\n";
    return true;
  });
  scratch.Close();
  return tags;
}

// The table rebuilt into the given structure: records (deleted ones unless
// skipped) and memos copied, fields renamed, tags rebuilt, then put in place.
void Rewrite(const std::string& file, const NewShape& shape, const TableShape& old, bool skip_deleted, bool quiet) {
  const std::vector<TagDef> tags = ProductionTags(file);
  ScratchSet scratch(file);
  scratch.Create(shape.fields, &old);
  scratch.CopyRecords(skip_deleted, quiet);
  scratch.RenameFields(shape.renames);
  scratch.BuildIndex(TagsThatCompile(file, scratch, tags), quiet);
  scratch.Place();
}

}  // namespace

int Create(const std::string& file, const OptionValues& options) {
  if (FileExistsResolved(ResolveName(TableName(file)))) throw Refused{"exists already", kBadUsage};
  const std::vector<FieldDef> fields = ParseFieldSpecs(Values(options, "--field"));
  if (fields.empty()) throw Refused{"create needs --field", kBadUsage};
  const uint8_t level = CreateLevel(OptionValue(options, "--level"));
  ScratchSet scratch(file);
  scratch.Create(fields, nullptr, level);
  scratch.Place();
  return 0;
}

int AddTag(const std::string& file, const OptionValues& options) {
  TagDef tag{UpperText(OptionValue(options, "--tag")), OptionValue(options, "--key"), OptionValue(options, "--for"),
             options.contains("--descending"), options.contains("--unique")};
  if (tag.name.empty() || tag.key.empty()) throw Refused{"index needs --tag and --key", kBadUsage};
  if (!IsFieldName(tag.name)) throw Refused{"--tag " + tag.name + ": not a tag name", kBadUsage};
  std::vector<TagDef> tags = ProductionTags(file);
  if (std::ranges::find(tags, tag.name, &TagDef::name) != tags.end()) {
    throw Refused{"tag " + tag.name + " exists already", kBadUsage};
  }
  OpenAlone(1, TableName(file), false);
  for (const auto& [option, expr] : {std::pair{"--key", tag.key}, std::pair{"--for", tag.for_expr}}) {
    if (TrimText(expr).empty()) continue;
    if (const std::string why = CompileProblem(expr, std::string_view(option) == "--key"); !why.empty()) {
      throw Refused{std::string(option) + " " + expr + ": " + why, kBadUsage};
    }
  }
  tags.push_back(std::move(tag));
  BuildProductionIndex(tags, Quiet(options));
  CloseAll();
  return 0;
}

int ReindexTable(const std::string& file, const OptionValues& options) {
  OpenAlone(1, TableName(file), false);
  const std::vector<TagDef> tags = ProductionTags(file);
  if (tags.empty()) throw Refused{"no production index", kBadUsage};
  BuildProductionIndex(tags, Quiet(options));
  CloseAll();
  return 0;
}

int Pack(const std::string& file, const OptionValues& options) {
  const TableShape old = ReadShape(TableName(file));
  Rewrite(file, NewShape{old.fields, {}}, old, true, Quiet(options));
  return 0;
}

int Restructure(const std::string& file, const OptionValues& options) {
  if (!options.contains("--set") && !options.contains("--add") && !options.contains("--drop") &&
      !options.contains("--rename")) {
    throw Refused{"restructure needs --set, --add, --drop or --rename", kBadUsage};
  }
  const TableShape old = ReadShape(TableName(file));
  Rewrite(file, ChangedShape(old.fields, options), old, false, Quiet(options));
  return 0;
}

}  // namespace ov::cli
