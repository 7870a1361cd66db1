#include "dataset/ovblobstream.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "dataset/db_error.h"
#include "dataset/tfield.h"
#include "dataset/uovfds.h"
#include "engine/dbf/dbf4.h"
#include "engine/memo/memo_area.h"
#include "engine/support/codepage.h"
#include "engine/support/ovcommon.h"

namespace ov {

namespace {

// The descriptor moves at most this much per call.
constexpr int64_t kPiece = 32767;

bool TextByte(uint8_t c) { return c >= 32 || c == 9 || c == 10 || c == 13 || c == 15 || c == 20 || c == 21; }

std::string RecordWhere() { return "Record # " + std::to_string(ov::RecNo()); }

}  // namespace

TOvBlobStream::TOvBlobStream(TField* field, TBlobStreamMode mode, bool translate, int64_t expected)
    : field_(field), translate_(translate) {
  dataset_ = field != nullptr ? dynamic_cast<TOvFileDataSet*>(field->DataSet()) : nullptr;
  if (dataset_ == nullptr) DatabaseError("Blob stream needs a field of a table component");
  // One descriptor per work area: a second stream would reopen it under
  // the first and send its bytes into the wrong memo.
  if (dataset_->blob_stream_open_) {
    DatabaseError("A blob stream is already open on " + dataset_->Name() + "; field '" + field->DisplayName() +
                  "' cannot be opened until it is closed");
  }
  dataset_->DirectOpenClose(true);
  dataset_->blob_stream_open_ = true;
  try {
    TOvFileDataSet::EngineCall([&] {
      MemoState* s = Memo("CreateBlobStream");
      if (field->FieldNo() <= 0 || s == nullptr) {
        if (s == nullptr && field->FieldNo() > 0) CheckMemoField("CreateBlobStream");
        return;
      }
      mode_ = static_cast<int>(mode);
      old_block_ = SlotValue();
      if (mode == TBlobStreamMode::bmRead) {
        // An empty memo has no block to open: it reads as nothing.
        opened_ = old_block_ != 0 && OpenMemoDescriptor(*s, old_block_, 1, -1, RecordWhere(), "CreateBlobStream") != 0;
        return;
      }
      const int32_t block = OpenMemoDescriptor(*s, old_block_, 2, expected, RecordWhere(), "CreateBlobStream");
      opened_ = block != 0;
      if (opened_) SetSlotValue(block);
    });
  } catch (...) {
    dataset_->blob_stream_open_ = false;
    dataset_->DirectOpenClose(false);
    throw;
  }
}

TOvBlobStream::~TOvBlobStream() {
  try {
    TOvFileDataSet::EngineCall([this] { Finish(); });
  } catch (...) {
    HandleApplicationException(std::current_exception());
  }
  dataset_->blob_stream_open_ = false;
  try {
    dataset_->DirectOpenClose(false);
  } catch (...) {
    HandleApplicationException(std::current_exception());
  }
}

MemoState* TOvBlobStream::Memo(const char* routine) {
  if (!dataset_->SelectArea(routine)) return nullptr;
  WorkArea* area = CurrentArea();
  return area != nullptr ? MemoStateOf(*area) : nullptr;
}

int32_t TOvBlobStream::SlotValue() const { return dataset_->ActiveMemoBlock(field_); }

void TOvBlobStream::SetSlotValue(int32_t block) { dataset_->SetActiveMemoBlock(field_, block); }

void TOvBlobStream::DecideTextMode(const uint8_t* bytes, int64_t n) {
  if (text_mode_ >= 0) return;
  text_mode_ = translate_ && std::all_of(bytes, bytes + n, TextByte) ? 1 : 0;
}

int64_t TOvBlobStream::Read(void* buffer, int64_t count) {
  if (!opened_ || mode_ != 0 || count < 1) return 0;
  return TOvFileDataSet::EngineCall([&]() -> int64_t {
    MemoState* s = Memo("ReadBlobStream");
    if (s == nullptr || !s->desc.open) return 0;
    auto* bytes = static_cast<uint8_t*>(buffer);
    int64_t done = 0;
    while (done < count) {
      const size_t want = static_cast<size_t>(std::min(count - done, kPiece));
      const size_t got = ReadMemoBytes(*s, bytes + done, want);
      DecideTextMode(bytes + done, static_cast<int64_t>(got));
      if (text_mode_ == 1) OemToAnsiBuf(reinterpret_cast<char*>(bytes + done), got);
      done += static_cast<int64_t>(got);
      if (got < want) break;
    }
    return done;
  });
}

int64_t TOvBlobStream::Write(const void* buffer, int64_t count) {
  if (!opened_ || mode_ == 0 || count < 1) return 0;
  const int64_t written = TOvFileDataSet::EngineCall([&]() -> int64_t {
    MemoState* s = Memo("WriteBlobStream");
    if (s == nullptr || !s->desc.open) return 0;
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    std::vector<char> piece;
    int64_t done = 0;
    while (done < count) {
      const size_t n = static_cast<size_t>(std::min(count - done, kPiece));
      DecideTextMode(bytes + done, static_cast<int64_t>(n));
      // The caller's bytes stay as they were: only the copy is converted.
      piece.assign(bytes + done, bytes + done + n);
      if (text_mode_ == 1) AnsiToOemBuf(piece.data(), n);
      const size_t put = WriteMemoBytes(*s, piece.data(), n);
      done += static_cast<int64_t>(put);
      if (put < n) break;
    }
    return done;
  });
  if (written > 0) modified_ = true;
  return written;
}

int64_t TOvBlobStream::Seek(int64_t offset, TSeekOrigin origin) {
  if (!opened_) return 0;
  return TOvFileDataSet::EngineCall([&]() -> int64_t {
    MemoState* s = Memo("SeekBlobStream");
    return s != nullptr ? SeekMemo(*s, offset, static_cast<int>(origin)) : 0;
  });
}

int64_t TOvBlobStream::Size() {
  const int64_t pos = Seek(0, TSeekOrigin::soCurrent);
  const int64_t end = Seek(0, TSeekOrigin::soEnd);
  Seek(pos, TSeekOrigin::soBeginning);
  return end;
}

void TOvBlobStream::Finish() {
  MemoState* s = Memo("DestroyBlobStream");
  // A write that failed gave up its descriptor; so did nothing when the
  // create failed. Either way the record keeps the memo it had rather than
  // lose it to a half-written one or to none.
  const bool failed = mode_ != 0 && (!opened_ || s == nullptr || !s->desc.open);
  if (failed && opened_) SetSlotValue(old_block_);
  if (mode_ == 1 && !failed) {
    if (!modified_ && SlotValue() != 0) {
      SetSlotValue(0);
      modified_ = true;
    }
    dataset_->WriteBackRecord();
  }
  if (!failed && opened_ && s != nullptr) CloseMemoDescriptor(*s);
  opened_ = false;
  if (modified_) {
    try {
      dataset_->DataFieldChanged(field_);
    } catch (...) {
      HandleApplicationException(std::current_exception());
    }
  }
}

}  // namespace ov
