// Building index tags. Tags are never built key by key: each tag's build
// reads the whole table in file order, collects (key, record) pairs, sorts
// them and writes the B-tree bottom-up with full nodes.
//
// Build of one tag:
//   scan     every record (deleted ones too) decoded as a record read
//            decodes it; those passing the FOR expression give a pair
//   sort     quicksort of a pointer array (median of three); equal keys
//            by record number. When the pairs outgrow the builder's memory
//            figure (IndexEngine().BuildMemory), each sorted batch goes as
//            a run to a temporary file and the runs are merged at the end
//   write    leaves filled to the brim, each full node's block and last key
//            passed up; a unique tag keeps the lowest record of each key
//   enter    the tag header block is appended and the tag entered in the
//            tag table, replacing a tag of the same name
//
// MakeMdx with overwrite (and Reindex) build into a temporary file in the
// table's directory and rename it over the old index only when every tag
// was built: a failed build leaves the old index as it was. Without
// overwrite, tags are added to the file in place; a tag that fails leaves
// the file without it, tags added before it stay.
//
// Failures are reported with ReportError (the builder's texts end in
// " [MakeIndex]" and " [AddIndexTag()]"); the temporary run file is gone on
// every path. Single-threaded, process-wide state.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/index/ovndxlow.h"

namespace ov {
struct CompiledExpr;
struct WorkArea;
}  // namespace ov

namespace ov {

// One tag to build.
struct TagDef {
  std::string name;  // at most 10 characters; an empty name ends a list
  std::string key;   // at most 220 characters
  std::string for_expr;
  bool descending = false;
  bool unique = false;
};

// An index file being built: its file, size and header image.
struct MdxTarget {
  std::string path;  // the name used in messages
  std::unique_ptr<File> file;
  uint64_t size = 0;
  mdx::MdxHeader header;
};

// The index file name: empty means the table's name with "MDX"; a name
// without extension gets "MDX"; one without a directory is placed in the
// table's directory.
std::string IndexFileName(const std::string& table_path, const std::string& given);

// The width of a character key: the compiled width when the compiler knows
// it, else the value's length on the blank record past the end of `area`'s
// table, so a variable-width key has one width in the builder and at open.
uint16_t CharKeyWidth(CompiledExpr& key, WorkArea& area);

// Builds the tags into the index file `name` of the current area's table;
// true when every tag was built.
bool MakeMdx(const std::vector<TagDef>& tags, const std::string& name, bool overwrite);
// MakeMdx with overwrite, then opening the file when the open side exists.
bool MakeIndex(const std::vector<TagDef>& tags, const std::string& name);
// Builds one tag of the current area's table into `target`.
bool AddIndexTag(const TagDef& def, MdxTarget& target);
// Rebuilds every tag of the area's open index.
bool Reindex();
// Rebuilds every tag of an index file of the current area's table from the
// definitions its own tag headers hold.
bool ReindexFile(const std::string& path);
// The tag definitions an index file holds, in slot order; false (with
// `code` and `context` set) when the file is cut short or a tag header is
// not one this format allows.
bool ReadTagDefs(const std::string& path, std::vector<TagDef>& defs, uint16_t& code, std::string& context);

// Installs the progress procedure, called about `steps` times per tag.
void SetProgressProc(std::function<void(int step)> proc, int steps);

}  // namespace ov
