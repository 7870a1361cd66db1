#include "dataset/uovcds.h"

#include <exception>

#include "engine/dbf/dbf4.h"
#include "engine/dbf/dbf4_append.h"

namespace ov {

void TOvCDataSet::AppendFrom(const std::string& file_name) {
  CheckBrowseMode();
  if (!CanModify()) DatabaseError("Cannot modify a read-only dataset");
  UpdateCursorPos();
  int32_t recno = 0;
  std::exception_ptr failure;
  try {
    EngineCall([&] {
      if (!SelectArea("AppendFrom")) return;
      recno = ov::RecNo();
      // A shared table takes records only under its append lock; without
      // it the engine refuses the first record and says so.
      const bool locked = ALock();
      try {
        ov::AppendFrom(file_name);
      } catch (...) {
        if (locked) Unlock();
        throw;
      }
      if (locked) Unlock();
    });
  } catch (...) {
    failure = std::current_exception();
  }
  ReturnToRecord(recno);
  if (failure) std::rethrow_exception(failure);
}

void TOvCDataSet::ReturnToRecord(int32_t recno) {
  const bool there = EngineCall([&] {
    if (!SelectArea("AppendFrom")) return false;
    QuietErrors quiet;
    if (recno < 1 || recno > RecCount()) return false;
    GO(recno);
    return Errors().DbfError == 0;
  });
  if (there) {
    ResyncAfterMove();
  } else {
    Errors().DbfError = 0;
    Last();
  }
}

}  // namespace ov
