// TOvBlobStream: the framework's stream over one memo field of the active
// record of a table component.
//
// A stream lives for one read or one rewrite of the memo:
//
//   mode        on creation                       on destruction
//   read        descriptor opened on the memo     descriptor closed
//   write       new memo at the end of the file,  nothing written: the
//               its block put in the field slot   memo is emptied; record
//                                                 written back to the area
//   read-write  as write                          the post writes the record
//
// With translation (an OEM table) the first piece read or written decides:
// text when every byte is 32 or above or one of 9, 10, 13, 15, 20, 21 (then
// every piece is converted between OEM and ANSI), else bytes pass as they
// are. A write converts a copy, never the caller's buffer.
//
// A work area has one memo descriptor, so one stream per table component
// may be open at a time; creating a second raises a dataset error rather
// than reopen the descriptor under the first.
//
// Single-threaded, process-wide state (the engine's work areas).
#pragma once

#include <cstdint>

#include "dataset/tstream.h"

namespace ov {

class TField;
class TOvFileDataSet;
struct MemoState;

enum class TBlobStreamMode { bmRead = 0, bmWrite = 1, bmReadWrite = 2 };

class TOvBlobStream : public TStream {
 public:
  // `translate`: the table's text is OEM (TableLanguage tlOem). A writer
  // that knows the size of the whole memo (`expected` bytes) lets it reuse
  // released blocks; without it the memo goes to the end of the file.
  TOvBlobStream(TField* field, TBlobStreamMode mode, bool translate, int64_t expected = -1);
  ~TOvBlobStream() override;
  TOvBlobStream(const TOvBlobStream&) = delete;
  TOvBlobStream& operator=(const TOvBlobStream&) = delete;

  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Size() override;

 private:
  // The memo file of the dataset's area, after selecting it for `routine`.
  MemoState* Memo(const char* routine);
  int32_t SlotValue() const;
  void SetSlotValue(int32_t block);
  void DecideTextMode(const uint8_t* bytes, int64_t n);
  void Finish();

  TField* field_ = nullptr;
  TOvFileDataSet* dataset_ = nullptr;
  int mode_ = 0;  // 0 read (also without field number), 1 write, 2 read-write
  bool modified_ = false;
  int32_t old_block_ = 0;  // the slot's memo when the stream was made
  bool translate_ = false;
  int text_mode_ = -1;   // -1 undecided, 1 text, 0 binary
  bool opened_ = false;  // this stream opened the area's descriptor
};

}  // namespace ov
