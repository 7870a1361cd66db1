// Date opcodes. Apart from DTOS and DATE they go through the display text
// of the day number and the date unit's operations on that text, so they
// follow DateType and CenturyOn exactly as the rest of the engine does.
// Those texts are at most 15 characters and never leave the string's own
// small buffer, so nothing is allocated here either.
#include <string>

#include "engine/expr/evaluate_internal.h"
#include "engine/support/ovcommon.h"
#include "engine/support/timedate.h"

namespace ov::eval_detail {

namespace {

std::string DisplayText(Machine& m) { return DayNumberToDate(m.PopNumber()); }

void Cdow(Machine& m, const CodeItem&) { m.PushText(DayName(DisplayText(m))); }
void Cmonth(Machine& m, const CodeItem&) { m.PushText(MonthName(DisplayText(m))); }
void Dtoc(Machine& m, const CodeItem&) { m.PushText(DisplayText(m)); }
void Day(Machine& m, const CodeItem&) { m.PushNumber(DayOf(DisplayText(m))); }
void Month(Machine& m, const CodeItem&) { m.PushNumber(MonthOf(DisplayText(m))); }
void Year(Machine& m, const CodeItem&) { m.PushNumber(YearOf(DisplayText(m))); }
void Dow(Machine& m, const CodeItem&) { m.PushNumber(DayOfWeek(DisplayText(m))); }

void Dtos(Machine& m, const CodeItem&) {
  DayNumberToRecordText(m.PopNumber(), Machine::Scratch());
  m.PushScratch(8);
}

void Ctod(Machine& m, const CodeItem&) {
  const std::string_view s = m.PopText();
  m.PushNumber(DateToDayNumber(std::string(s.substr(0, 10))), kTypeD);
}

void Today(Machine& m, const CodeItem&) {
  const LocalDate d = ov::Today();
  m.PushNumber(YmdToDayNumber(d.year, d.month, d.day), kTypeD);
}

}  // namespace

void AddDateOps(OpTable& table) {
  table[tok::kCdow] = Cdow;
  table[tok::kCmonth] = Cmonth;
  table[tok::kDtoc] = Dtoc;
  table[tok::kDay] = Day;
  table[tok::kMonth] = Month;
  table[tok::kYear] = Year;
  table[tok::kDow] = Dow;
  table[tok::kDtos] = Dtos;
  table[tok::kCtod] = Ctod;
  table[tok::kDate] = Today;
}

}  // namespace ov::eval_detail
