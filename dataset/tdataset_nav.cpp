// TDataSet: the window of record buffers, navigation and bookmarks.
#include <algorithm>

#include "dataset/tdataset.h"

namespace ov {

// ---- Buffers ----

void TDataSet::AllocateBuffers(int count) {
  FreeBuffers();
  buffers_.resize(static_cast<size_t>(count) + 1);
  for (TRecordBlock& b : buffers_) b = AllocRecordBuffer();
  buffer_count_ = count;
  temp_buffer_ = AllocRecordBuffer();
}

void TDataSet::FreeBuffers() {
  for (TRecordBlock& b : buffers_) FreeRecordBuffer(b);
  buffers_.clear();
  if (temp_buffer_) FreeRecordBuffer(temp_buffer_);
  buffer_count_ = 0;
  calc_buffer_ = nullptr;
  ClearBuffers();
}

// The window takes the size the data links ask for whenever it is refilled
// in browse state; the cursor stays where the caller put it.
void TDataSet::ResizeWindowIfWanted() {
  const int wanted = WantedBufferCount();
  if (buffers_.empty() || wanted == buffer_count_ || state_ != TDataSetState::dsBrowse) return;
  for (TRecordBlock& b : buffers_) FreeRecordBuffer(b);
  buffers_.resize(static_cast<size_t>(wanted) + 1);
  for (TRecordBlock& b : buffers_) b = AllocRecordBuffer();
  buffer_count_ = wanted;
  ClearBuffers();
}

void TDataSet::ClearBuffers() {
  record_count_ = 0;
  active_record_ = 0;
  current_record_ = -1;
  bof_ = true;
  eof_ = true;
}

void TDataSet::ActivateBuffers() {
  record_count_ = 1;
  active_record_ = 0;
  current_record_ = 0;
  bof_ = false;
  eof_ = false;
}

// Moves buffer `from` to slot `to`, shifting the ones between.
void TDataSet::MoveBuffer(int from, int to) {
  auto at = [this](int i) { return buffers_.begin() + i; };
  if (from < to) {
    std::rotate(at(from), at(from + 1), at(to + 1));
  } else if (from > to) {
    std::rotate(at(to), at(from), at(from + 1));
  }
}

void TDataSet::SetCurrentRecord(int index) {
  if (current_record_ == index) return;
  TRecordBuffer buffer = buffers_[static_cast<size_t>(index)].get();
  switch (GetBookmarkFlag(buffer)) {
    case TBookmarkFlag::bfCurrent:
    case TBookmarkFlag::bfInserted: InternalSetToRecord(buffer); break;
    case TBookmarkFlag::bfBOF: InternalFirst(); break;
    case TBookmarkFlag::bfEOF: InternalLast(); break;
  }
  current_record_ = index;
}

void TDataSet::UpdateCursorPos() {
  if (record_count_ > 0) SetCurrentRecord(active_record_);
}

// Fetches the record after the window into it (dropping the first buffer
// when the window is full).
bool TDataSet::GetNextRecord() {
  TGetMode mode = TGetMode::gmNext;
  if (record_count_ > 0) {
    SetCurrentRecord(record_count_ - 1);
    if (state_ == TDataSetState::dsInsert && current_record_ == active_record_ &&
        GetBookmarkFlag(ActiveBuffer()) == TBookmarkFlag::bfCurrent) {
      mode = TGetMode::gmCurrent;
    }
  }
  if (GetRecord(buffers_[static_cast<size_t>(record_count_)].get(), mode, true) != TGetResult::grOK) {
    CursorPosChanged();
    return false;
  }
  if (record_count_ == 0) {
    ActivateBuffers();
  } else if (record_count_ < buffer_count_) {
    ++record_count_;
  } else {
    MoveBuffer(0, record_count_);
    if (active_record_ > 0) --active_record_;
  }
  current_record_ = record_count_ - 1;
  return true;
}

// Fetches the record before the window into its first slot.
bool TDataSet::GetPriorRecord() {
  if (record_count_ > 0) SetCurrentRecord(0);
  if (GetRecord(buffers_[static_cast<size_t>(record_count_)].get(), TGetMode::gmPrior, true) != TGetResult::grOK) {
    CursorPosChanged();
    return false;
  }
  if (record_count_ == 0) {
    ActivateBuffers();
  } else {
    MoveBuffer(record_count_, 0);
    if (record_count_ < buffer_count_) {
      ++record_count_;
      ++active_record_;
    } else if (active_record_ < record_count_ - 1) {
      ++active_record_;
    }
  }
  current_record_ = 0;
  return true;
}

int TDataSet::GetNextRecords() {
  int n = 0;
  while (record_count_ < buffer_count_ && GetNextRecord()) ++n;
  return n;
}

int TDataSet::GetPriorRecords() {
  int n = 0;
  while (record_count_ < buffer_count_ && GetPriorRecord()) ++n;
  return n;
}

void TDataSet::FillWindowFromStart() {
  ClearBuffers();
  GetNextRecord();
  GetNextRecords();
  bof_ = true;
}

// ---- Navigation ----

void TDataSet::First() {
  CheckBrowseMode();
  DoBeforeScroll();
  ResizeWindowIfWanted();
  ClearBuffers();
  try {
    InternalFirst();
    GetNextRecord();
    GetNextRecords();
  } catch (...) {
    bof_ = true;
    NotifyDataSetChanged();
    throw;
  }
  bof_ = true;
  NotifyDataSetChanged();
  DoAfterScroll();
}

void TDataSet::Last() {
  CheckBrowseMode();
  DoBeforeScroll();
  ResizeWindowIfWanted();
  ClearBuffers();
  try {
    InternalLast();
    GetPriorRecord();
    GetPriorRecords();
  } catch (...) {
    eof_ = true;
    NotifyDataSetChanged();
    throw;
  }
  eof_ = true;
  NotifyDataSetChanged();
  DoAfterScroll();
}

int TDataSet::MoveBy(int distance) {
  CheckBrowseMode();
  int moved = 0;
  DoBeforeScroll();
  if ((distance > 0 && eof_) || (distance < 0 && bof_) || distance == 0) return 0;
  bof_ = eof_ = false;
  const int old_count = record_count_;
  int scroll = 0;
  auto notify = [&] {
    if (record_count_ != old_count) {
      NotifyDataSetChanged();
    } else {
      ForEachLink([scroll](TDataLink& l) { l.DataSetScrolled(scroll); });
    }
  };
  try {
    for (; distance > 0; --distance, ++moved) {
      if (active_record_ < record_count_ - 1) {
        ++active_record_;
        continue;
      }
      const int shift = record_count_ < buffer_count_ ? 0 : 1;
      if (!GetNextRecord()) {
        eof_ = true;
        break;
      }
      active_record_ = record_count_ - 1;
      scroll -= shift;
    }
    for (; distance < 0; ++distance, --moved) {
      if (active_record_ > 0) {
        --active_record_;
        continue;
      }
      const int shift = record_count_ < buffer_count_ ? 0 : 1;
      if (!GetPriorRecord()) {
        bof_ = true;
        break;
      }
      active_record_ = 0;
      scroll += shift;
    }
  } catch (...) {
    notify();
    throw;
  }
  notify();
  DoAfterScroll();
  return moved;
}

void TDataSet::Resync(TResyncMode mode) {
  ResizeWindowIfWanted();
  TRecordBuffer spare = buffers_[static_cast<size_t>(record_count_)].get();
  if (mode.exact) {
    CursorPosChanged();
    if (GetRecord(spare, TGetMode::gmCurrent, true) != TGetResult::grOK) DatabaseError("Record not found");
  } else if (GetRecord(spare, TGetMode::gmCurrent, false) != TGetResult::grOK &&
             GetRecord(spare, TGetMode::gmNext, false) != TGetResult::grOK &&
             GetRecord(spare, TGetMode::gmPrior, false) != TGetResult::grOK) {
    ClearBuffers();
    NotifyDataSetChanged();
    return;
  }
  int before = mode.center ? (buffer_count_ - 1) / 2 : std::min(active_record_, buffer_count_ - 1);
  MoveBuffer(record_count_, 0);
  ActivateBuffers();
  try {
    while (before > 0 && GetPriorRecord()) --before;
    GetNextRecords();
    GetPriorRecords();
  } catch (...) {
    NotifyDataSetChanged();
    throw;
  }
  NotifyDataSetChanged();
}

// ---- Bookmarks ----

TBookmark TDataSet::GetBookmark() {
  const bool available =
      (state_ == TDataSetState::dsBrowse || state_ == TDataSetState::dsEdit || state_ == TDataSetState::dsInsert) &&
      !IsEmpty() && GetBookmarkFlag(ActiveBuffer()) == TBookmarkFlag::bfCurrent;
  if (!available || bookmark_size_ <= 0) return TBookmark();
  TBookmark bookmark(static_cast<size_t>(bookmark_size_));
  GetBookmarkData(ActiveBuffer(), bookmark.data());
  return bookmark;
}

void TDataSet::GotoBookmark(const TBookmark& bookmark) {
  if (bookmark.empty()) return;
  CheckBrowseMode();
  if (bookmark.size() != static_cast<size_t>(bookmark_size_)) DatabaseError("Invalid bookmark");
  DoBeforeScroll();
  InternalGotoBookmark(bookmark.data());
  Resync({.exact = true, .center = true});
  DoAfterScroll();
}

}  // namespace ov
