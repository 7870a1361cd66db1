// A progress bar for the command-line tool's long work.
#pragma once

#include <cstdint>
#include <string>

namespace ov::cli {

// A one-line progress bar on stderr, drawn only when stderr is a terminal and `quiet` is false.
class Progress {
 public:
  Progress(std::string label, int64_t total, bool quiet);  // total 0: unknown, show a count
  void Update(int64_t done);  // cheap when called per record: redraws at most ~10 times a second
  ~Progress();                // erases the line
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

 private:
  void Draw(int64_t done);

  std::string label_;
  int64_t total_;
  bool active_;
  bool drawn_ = false;
  int calls_ = 0;  // updates since the clock was last read
  uint64_t next_draw_ms_ = 0;
};

}  // namespace ov::cli
