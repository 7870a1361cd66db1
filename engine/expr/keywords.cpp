#include "engine/expr/keywords.h"

#include <iterator>

#include "engine/expr/expr_types.h"

namespace ov {

namespace {

// Abbreviations are entries of their own with the full name's token.
constexpr Keyword kKeywords[] = {
    {"ABS", tok::kAbs, 0},
    {"ASC", tok::kAsc, 0},
    {"AT", tok::kAt, 0},
    {"CDOW", tok::kCdow, 15},
    {"CHR", tok::kChr, 2},
    {"CMON", tok::kCmonth, 15},
    {"CMONT", tok::kCmonth, 15},
    {"CMONTH", tok::kCmonth, 15},
    {"CTOD", tok::kCtod, 0},
    {"DATE", tok::kDate, 0},
    {"DAY", tok::kDay, 0},
    {"DELE", tok::kDeleted, 0},
    {"DELET", tok::kDeleted, 0},
    {"DELETE", tok::kDeleted, 0},
    {"DELETED", tok::kDeleted, 0},
    {"DOW", tok::kDow, 0},
    {"DTOC", tok::kDtoc, 11},
    {"DTOS", tok::kDtos, 9},
    {"IIF", tok::kIif, 256},
    {"INT", tok::kInt, 0},
    {"LEFT", tok::kLeft, 0},
    {"LEN", tok::kLen, 0},
    {"LOWE", tok::kLower, 0},
    {"LOWER", tok::kLower, 0},
    {"LTRI", tok::kLtrim, 0},
    {"LTRIM", tok::kLtrim, 0},
    {"MAX", tok::kMax, 0},
    {"MIN", tok::kMin, 0},
    {"MOD", tok::kMod, 0},
    {"MONT", tok::kMonth, 0},
    {"MONTH", tok::kMonth, 0},
    {"RECN", tok::kRecno, 0},
    {"RECNO", tok::kRecno, 0},
    {"REPL", tok::kReplicate, 256},
    {"REPLI", tok::kReplicate, 256},
    {"REPLIC", tok::kReplicate, 256},
    {"REPLICA", tok::kReplicate, 256},
    {"REPLICAT", tok::kReplicate, 256},
    {"REPLICATE", tok::kReplicate, 256},
    {"RIGH", tok::kRight, 0},
    {"RIGHT", tok::kRight, 0},
    {"ROUN", tok::kRound, 0},
    {"ROUND", tok::kRound, 0},
    {"RTRI", tok::kRtrim, 0},
    {"RTRIM", tok::kRtrim, 0},
    {"SOUN", tok::kSoundex, 15},
    {"SOUND", tok::kSoundex, 15},
    {"SOUNDE", tok::kSoundex, 15},
    {"SOUNDEX", tok::kSoundex, 15},
    {"SPAC", tok::kSpace, 256},
    {"SPACE", tok::kSpace, 256},
    {"STR", tok::kStr, 256},
    {"STUF", tok::kStuff, 0},
    {"STUFF", tok::kStuff, 0},
    {"SUBS", tok::kSubstr, 0},
    {"SUBST", tok::kSubstr, 0},
    {"SUBSTR", tok::kSubstr, 0},
    {"TRIM", tok::kTrim, 0},
    {"UPPE", tok::kUpper, 0},
    {"UPPER", tok::kUpper, 0},
    {"VAL", tok::kVal, 0},
    {"YEAR", tok::kYear, 0},
    {".F.", tok::kFalse, 0},
    {".T.", tok::kTrue, 0},
    {".NOT.", tok::kNot, 0},
    {".OR.", tok::kOr, 0},
    {".AND.", tok::kAnd, 0},
    {"$EOT$", tok::kEot, 0},
};

}  // namespace

const Keyword& LookupKeyword(std::string_view name) {
  for (const Keyword& k : kKeywords) {
    if (k.token == tok::kEot || k.name == name) return k;
  }
  return kKeywords[std::size(kKeywords) - 1];
}

}  // namespace ov
