#include "app/form1.h"

#include <QFont>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <algorithm>

#include "dataset/tstrings.h"
#include "dataset/uovfds.h"
#include "engine/dbf/file_set.h"
#include "engine/support/ovcommon.h"
#include "engine/support/ovutils.h"
#include "engine/support/platform.h"

namespace ov {

bool g_show_once = true;

namespace {

const char* const kMovieFields[] = {"title, C, 20, 0", "year, N, 4, 0",      "color, L, 1, 0", "runtime, N, 3, 0",
                                    "stars, C, 50, 0", "director, C, 20, 0", "plot, M, 10, 0", "premiere, D, 10, 0"};

// Deletes a file when it exists, whatever the letter case of its name.
// False after reporting a file that stays: a stale scratch table must
// never be filled a second time.
bool DeleteIfExists(const std::string& name) {
  const std::string real = ResolveName(name);
  if (!CurrentEnv()->Exists(real)) return true;
  EraseFiles(real);
  return Errors().DbfError == 0;
}

}  // namespace

TForm1::TForm1() : QWidget(nullptr) {
  setWindowTitle("Form1");
  setGeometry(200, 108, 544, 377);
  QFont f(QStringLiteral("MS Sans Serif"));
  f.setPixelSize(11);
  setFont(f);

  Label1 = new QLabel(QStringLiteral("Current Database Structure"), this);
  Label1->setGeometry(182, 116, 129, 13);
  // The label sizes itself to its caption when the substituted font runs
  // wider than the designed one.
  Label1->resize(std::max(129, Label1->sizeHint().width()), 13);
  Button1 = new QPushButton(QStringLiteral("Change the Structure"), this);
  Button1->setGeometry(134, 39, 201, 35);
  ListBox1 = new QListWidget(this);
  ListBox1->setGeometry(197, 137, 228, 148);
  ListBox1->setUniformItemSizes(true);
  QObject::connect(Button1, &QPushButton::clicked, [this] { Button1Click(); });

  OvDbf1 = std::make_unique<TOvDbf>("OvDbf1");
  for (const char* line : kMovieFields) OvDbf1->DbfFields().Add(line);
  OvDbf1->SetHideDeletedRecs(false);
  OvDbf1->SetTableLanguage(TOvTableLanguage::tlOem);
  OvDbf1->SetReadOnly(false);
  OvDbf1->SetCreateIndex(TCreateIndexType::ciNotFound);
  OvDbf1->SetExclusive(false);
  OvDbf1->SetDbfFileName("movie.DBF");
  OvDbf1->SetActive(true);
  FormCreate();
}

TForm1::~TForm1() = default;

void TForm1::FormCreate() { ListStructure(); }

void TForm1::ListStructure() {
  ListBox1->clear();
  TStrings lines;
  OvDbf1->StructureListing(lines, false);
  for (int i = 0; i < lines.Count(); ++i) {
    auto* item = new QListWidgetItem(QString::fromLatin1(lines[i].c_str()), ListBox1);
    item->setSizeHint(QSize(item->sizeHint().width(), 13));
  }
}

std::vector<std::string> TForm1::ListedLines() const {
  std::vector<std::string> out;
  for (int i = 0; i < ListBox1->count(); ++i) out.push_back(ListBox1->item(i)->text().toStdString());
  return out;
}

int TForm1::NextTitleWidth() {
  if (title_width_ > 240) title_width_ = 0;
  title_width_ = title_width_ == 0 ? 20 : title_width_ + 10;
  return title_width_;
}

std::string TForm1::BuildScratchTable(const std::string& current) {
  for (const char* name : {"junk.dbf", "junk.dbt", "junk.mdx"}) {
    if (!DeleteIfExists(name)) return std::string();
  }
  TOvDbf scratch;
  TStrings& f = scratch.DbfFields();
  f.Clear();
  f.Add("title,C," + std::to_string(NextTitleWidth()) + ",0");
  for (const char* line : {"year,N,4,0", "color,L,1,0", "runtime,N,3,0", "stars,C,50,0", "director,C,20,0",
                           "plot,M,10,0", "premiere,D,8,0"}) {
    f.Add(line);
  }
  scratch.SetDbfFileName("junk.dbf");
  scratch.SetExclusive(true);
  scratch.SetActive(true);
  const std::string answer = scratch.DbfFileName();
  scratch.AppendFrom(current);
  scratch.SetActive(false);
  return answer;
}

void TForm1::Button1Click() {
  const std::string current = OvDbf1->DbfFileName();
  OvDbf1->SetActive(false);
  // Each step stops the click once a failure was reported, before the
  // table's files are touched (or with them put back).
  const std::string scratch = BuildScratchTable(current);
  if (scratch.empty() || Errors().Halted) return;
  if (!CopyFileSet(current, "") || !CopyFileSet(scratch, current)) return;
  OvDbf1->SetActive(true);
  ListStructure();
  if (g_show_once) {
    ShowMessageBox(
        "Done reconfiguring the database.\r"
        "Watch how the TITLE field description changes with every single button click...",
        "movie-demo", kMbIconInformation);
    g_show_once = false;
  }
}

}  // namespace ov
