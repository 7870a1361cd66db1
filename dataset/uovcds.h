// TOvCDataSet: the table dataset with its table properties public, and
// appending the records of another table.
//
// Single-threaded, process-wide state (the engine's work areas).
#pragma once

#include <string>

#include "dataset/ovdataset.h"

namespace ov {

class TOvCDataSet : public TOvDataSet {
 public:
  using TOvDataSet::DbfFields;
  using TOvDataSet::DbfFileName;
  using TOvDataSet::HideDeletedRecs;
  using TOvDataSet::SetDbfFileName;
  using TOvDataSet::SetHideDeletedRecs;
  using TOvDataSet::SetShowProgress;
  using TOvDataSet::SetTableLanguage;
  using TOvDataSet::ShowProgress;
  using TOvDataSet::TableLanguage;

  // Appends every visible record of the table `file_name` (fields matched
  // by name, memos copied), then shows the record that was active again,
  // or the last record when that one cannot be reached. Raises the
  // engine's error as a dataset error after returning to the record.
  void AppendFrom(const std::string& file_name);

 private:
  void ReturnToRecord(int32_t recno);
};

}  // namespace ov
