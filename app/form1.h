// The demo's main window: the structure of "movie.DBF", and a button that
// rebuilds the table with a `title` field of another width at each press,
// keeping every record and memo.
#pragma once

#include <QWidget>
#include <memory>
#include <string>

class QLabel;
class QListWidget;
class QPushButton;

namespace ov {

class TOvDbf;

class TForm1 : public QWidget {
 public:
  TForm1();
  ~TForm1() override;

  void FormCreate();
  void Button1Click();

  QLabel* Label1 = nullptr;
  QPushButton* Button1 = nullptr;
  QListWidget* ListBox1 = nullptr;
  std::unique_ptr<TOvDbf> OvDbf1;

  // The list box's lines, as it holds them.
  std::vector<std::string> ListedLines() const;

 private:
  void ListStructure();
  int NextTitleWidth();
  std::string BuildScratchTable(const std::string& current);

  int title_width_ = 0;
};

// The notice shown after the first restructuring only.
extern bool g_show_once;

}  // namespace ov
