// TOvFileDataSet: memo fields through blob streams.
#include "dataset/tfield.h"
#include "dataset/uovfds.h"
#include "engine/dbf/dbf4.h"
#include "engine/memo/memo_area.h"

namespace ov {

std::unique_ptr<TOvBlobStream> TOvFileDataSet::CreateBlobStream(TField* field, TBlobStreamMode mode) {
  return std::make_unique<TOvBlobStream>(field, mode, TableLanguage() == TOvTableLanguage::tlOem);
}

std::string TOvFileDataSet::GetBlobText(TField* field) {
  // Most records of most tables have no memo: no stream for them.
  if (ActiveMemoBlock(field) == 0) return std::string();
  const std::unique_ptr<TOvBlobStream> stream = CreateBlobStream(field, TBlobStreamMode::bmRead);
  std::string text;
  char chunk[4096];
  for (int64_t got; (got = stream->Read(chunk, sizeof chunk)) > 0;) text.append(chunk, static_cast<size_t>(got));
  return text;
}

int32_t TOvFileDataSet::StoreBlob(TField* field, const std::string& text) {
  // No memo at all rather than an empty one taking a block. A dBASE III
  // memo file keeps its memos raw, as other dBASE III programs read them,
  // which the text store does and a stream (block header) does not.
  const bool dbase3 = EngineCall([&] {
    ov::WorkArea* area = SelectArea("SetBlobText") ? CurrentArea() : nullptr;
    const MemoState* memo = area != nullptr ? MemoStateOf(*area) : nullptr;
    return memo != nullptr && memo->kind == MemoKind::kDbase3;
  });
  if (text.empty() || dbase3) return TOvDataSet::StoreBlob(field, text);
  {
    // The whole text is known: its size lets the memo reuse released blocks.
    const auto stream = std::make_unique<TOvBlobStream>(
        field, TBlobStreamMode::bmWrite, TableLanguage() == TOvTableLanguage::tlOem, static_cast<int64_t>(text.size()));
    stream->WriteBuffer(text.data(), static_cast<int64_t>(text.size()));
  }
  return MemoBlockIn(ActiveBuffer(), field);
}

}  // namespace ov
