// Key maintenance against a model: random appends, key changes (equal,
// lower, higher, into and out of a FOR condition) and deletions over tags of
// every key type, unique and descending ones, keys long enough for trees
// several levels deep. After each checked step the index check passes and
// every tag walks in the model's order; at the end the independent reader
// walks the file the same way.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "engine/dbf/dbf4.h"
#include "engine/index/index_check.h"
#include "engine/index/mdx_walk.h"
#include "engine/index/ovndx.h"
#include "engine/index/umakemdx.h"
#include "tests/dbf_test_util.h"
#include "tests/test_support.h"

namespace ov {
namespace {

struct Row {
  std::string name, city, date;
  int cents = 0;
};

// One tag of the model: its key of a row, its flags, and the entries it
// holds with the order they were inserted in (the newest first among equal
// keys; a build lays equal keys down by record number).
struct ModelTag {
  TagDef def;
  std::string (*key)(const Row&);
  bool (*passes)(const Row&);
  std::map<int32_t, std::pair<std::string, int64_t>> entries;  // record -> (key, insertion)

  bool Holds(const std::string& k) const {
    return std::any_of(entries.begin(), entries.end(), [&](const auto& e) { return e.second.first == k; });
  }
  void Insert(int32_t r, const std::string& k, int64_t seq) {
    if (!def.unique || !Holds(k)) entries[r] = {k, seq};
  }
  std::vector<int32_t> Order() const {
    std::vector<std::pair<std::pair<std::string, int64_t>, int32_t>> v;
    for (const auto& [r, e] : entries) v.push_back({e, r});
    std::sort(v.begin(), v.end(), [&](const auto& a, const auto& b) {
      if (a.first.first != b.first.first)
        return def.descending ? a.first.first > b.first.first : a.first.first < b.first.first;
      return a.first.second > b.first.second;
    });
    std::vector<int32_t> out;
    for (const auto& e : v) out.push_back(e.second);
    return out;
  }
};

std::string Pad(const std::string& s, size_t n) { return (s + std::string(n, ' ')).substr(0, n); }
// Amounts from -99.99 to 99.99 as text that sorts like the numbers.
std::string AmountKey(const Row& r) {
  char b[16];
  std::snprintf(b, sizeof b, "%06d", r.cents + 100000);
  return b;
}

class IndexUpdateTest : public test::EngineTest {
 protected:
  std::vector<ModelTag> tags_ = {
      {{"NAME", "NAME", "", false, false}, [](const Row& r) { return Pad(r.name, 40); }, nullptr, {}},
      {{"DNAME", "NAME", "", true, false}, [](const Row& r) { return Pad(r.name, 40); }, nullptr, {}},
      {{"AMT", "AMT", "", false, false}, AmountKey, nullptr, {}},
      {{"DT", "DT", "", false, false}, [](const Row& r) { return r.date; }, nullptr, {}},
      {{"UCITY", "CITY", "", false, true}, [](const Row& r) { return Pad(r.city, 4); }, nullptr, {}},
      {{"POS", "NAME", "AMT > 0", false, false},
       [](const Row& r) { return Pad(r.name, 40); },
       [](const Row& r) { return r.cents > 0; },
       {}},
      {{"BIG", "NAME+CITY+NAME", "", false, false},
       [](const Row& r) { return Pad(r.name, 40) + Pad(r.city, 4) + Pad(r.name, 40); },
       nullptr,
       {}},
  };
  std::vector<Row> rows_;
  int64_t seq_ = 0;
  std::mt19937 rng_{20261209};

  Row RandomRow() {
    Row r;
    r.name = std::string(1 + rng_() % 3, static_cast<char>('a' + rng_() % 4)) + std::to_string(rng_() % 9);
    r.city = "C" + std::to_string(rng_() % 12);
    char d[16];
    std::snprintf(d, sizeof d, "%04d%02d%02d", 1890 + static_cast<int>(rng_() % 200), 1 + static_cast<int>(rng_() % 12),
                  1 + static_cast<int>(rng_() % 28));
    r.date = d;
    r.cents = static_cast<int>(rng_() % 19999) - 9999;
    return r;
  }

  static void Put(const Row& r) {
    SetFieldText(1, r.name);
    SetFieldNumber(2, r.cents / 100.0);
    SetFieldText(3, StoredDateToDisplay(r.date));
    SetFieldText(4, r.city);
  }

  bool Passes(const ModelTag& t, const Row& r) const { return t.passes == nullptr || t.passes(r); }

  void Append(const Row& r) {
    ClearRecord();
    Put(r);
    ov::Append();
    rows_.push_back(r);
    const auto n = static_cast<int32_t>(rows_.size());
    ++seq_;
    for (ModelTag& t : tags_) {
      if (Passes(t, r)) t.Insert(n, t.key(r), seq_);
    }
  }

  void Change(int32_t n, const Row& now) {
    GO(n);
    Put(now);
    Replace();
    const Row before = rows_[static_cast<size_t>(n - 1)];
    rows_[static_cast<size_t>(n - 1)] = now;
    ++seq_;
    for (ModelTag& t : tags_) {
      const std::string k0 = t.key(before), k1 = t.key(now);
      const bool p0 = Passes(t, before), p1 = Passes(t, now), changed = k0 != k1;
      if (p0 && (changed || !p1)) t.entries.erase(n);
      if (p1 && (changed || !p0)) t.Insert(n, k1, seq_);
    }
  }

  void Verify(const std::string& step) {
    EXPECT_EQ(FindingLines(CheckIndex()), "") << step;
    for (size_t i = 0; i < tags_.size(); ++i) {
      Set_Order_To(static_cast<int>(i + 1));
      std::vector<int32_t> walked;
      for (GoTop(); !dEOF() && walked.size() <= rows_.size(); SKIP(1)) walked.push_back(RecNo());
      ASSERT_EQ(walked, tags_[i].Order()) << step << " tag " << tags_[i].def.name;
    }
  }
};

TEST_F(IndexUpdateTest, RandomEditsKeepEveryTagEqualToTheModel) {
  {
    DbfFile dbf = test::MakeTable(Path("T.DBF"),
                                  {{"NAME", 'C', 40, 0}, {"AMT", 'N', 8, 2}, {"DT", 'D', 8, 0}, {"CITY", 'C', 4, 0}});
    CloseDbf(dbf);
  }
  Engine().dates.CenturyOn = true;  // dates across centuries
  USE(Path("T.DBF") + " EXCLUSIVE");
  // Records the builder lays down first: equal keys by record number, a
  // unique key held by its lowest record.
  for (int i = 0; i < 150; ++i) Append(RandomRow());
  std::vector<TagDef> defs;
  for (ModelTag& t : tags_) {
    defs.push_back(t.def);
    for (auto& [r, e] : t.entries) e.second = -r;
    if (t.def.unique) {
      std::map<std::string, int32_t> lowest;
      for (const auto& [r, e] : t.entries) lowest.emplace(e.first, r);
      std::map<int32_t, std::pair<std::string, int64_t>> kept;
      for (const auto& [k, r] : lowest) kept[r] = t.entries[r];
      t.entries = kept;
    }
  }
  ASSERT_TRUE(MakeMdx(defs, "", true));
  ASSERT_TRUE(SetIndexTo(""));
  Verify("built");
  for (int step = 0; step < 1500 && !HasFailure(); ++step) {
    const uint32_t op = rng_() % 10;
    const auto n = static_cast<int32_t>(1 + rng_() % rows_.size());
    if (op < 5) {
      Append(RandomRow());
    } else if (op < 9) {
      Row r = rows_[static_cast<size_t>(n - 1)];
      const Row other = RandomRow();
      switch (rng_() % 5) {
        case 0: r.name = other.name; break;
        case 1: r.cents = -r.cents; break;  // in and out of the FOR condition
        case 2: r.city = other.city; break;
        case 3: r.date = other.date; break;
        default: break;  // nothing changes
      }
      Change(n, r);
    } else {
      GO(n);
      rng_() % 2 ? DeleteRec() : RecallRec();  // marks only: no key moves
    }
    if (step < 100 || step % 25 == 0) Verify("step " + std::to_string(step));
  }
  Verify("end");
  CloseIndexes();
  std::vector<TagSummary> summary;
  std::string error;
  ASSERT_TRUE(ReadIndexSummary(Path("T.MDX"), summary, error)) << error;
  EXPECT_GE(summary.back().height, 3);  // BIG: 11 keys a node
  std::string out;
  const std::string cmd = "perl " + std::string(OV_ORACLE_DIR) + "/dump_mdx.pl " + Path("T.MDX") + " " + Path("T.DBF") +
                          " | /usr/bin/python3 -c 'import json,sys\n"
                          "for t in json.load(sys.stdin)[\"tags\"]: print(t[\"name\"], *(t[\"recnos\"] or []))'";
  ASSERT_EQ(test::RunCommand(cmd, &out), 0) << out;
  std::istringstream in(out);
  for (const ModelTag& t : tags_) {
    std::string line;
    ASSERT_TRUE(std::getline(in, line));
    std::istringstream ls(line);
    std::string name;
    ls >> name;
    std::vector<int32_t> recs;
    for (int32_t r = 0; ls >> r;) recs.push_back(r);
    EXPECT_EQ(name, t.def.name);
    EXPECT_EQ(recs, t.Order()) << name;
  }
}

}  // namespace
}  // namespace ov
