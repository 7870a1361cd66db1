// Byte streams of the dataset framework: the abstract `TStream` and the
// in-memory `TMemoryStream`. Blob streams over memo fields derive from
// `TStream`. Failures raise `EDatabaseError`.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ov {

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };

class TStream {
 public:
  virtual ~TStream() = default;

  // Reads or writes up to `count` bytes at the position and advances it;
  // answers the number of bytes moved.
  virtual int64_t Read(void* buffer, int64_t count) = 0;
  virtual int64_t Write(const void* buffer, int64_t count) = 0;
  // Moves the position; answers the new position.
  virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;
  virtual int64_t Size() = 0;

  int64_t Position() { return Seek(0, TSeekOrigin::soCurrent); }
  void SetPosition(int64_t pos) { Seek(pos, TSeekOrigin::soBeginning); }
  // All or nothing: a short transfer raises "Stream read error" or
  // "Stream write error".
  void ReadBuffer(void* buffer, int64_t count);
  void WriteBuffer(const void* buffer, int64_t count);
  // Copies `count` bytes from `source` (all of it from its start when 0).
  int64_t CopyFrom(TStream& source, int64_t count);
};

class TMemoryStream : public TStream {
 public:
  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  // A position outside 0..Size raises "Invalid stream position".
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Size() override { return static_cast<int64_t>(data_.size()); }

  void SetSize(int64_t size);
  void Clear();
  const std::vector<uint8_t>& Memory() const { return data_; }
  std::string DataString() const { return std::string(data_.begin(), data_.end()); }

 private:
  std::vector<uint8_t> data_;
  int64_t pos_ = 0;
};

}  // namespace ov
