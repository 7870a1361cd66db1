// The seam between the work-area layer and the index engine: the slots the
// index engine fills at start-up, and when the work-area layer calls them.
//
// Two states, asked in one place each:
//   IndexOpen    the area has an index open: its tags are maintained on
//                every Append and Replace and closed with the area, in
//                natural order too.
//   IndexActive  an index order steers navigation: the index is open,
//                every navigation slot is filled and `ordered` (when
//                filled) says an order is selected; in natural order the
//                layer walks record numbers itself.
// The work-area layer calls a slot only when it is filled and the state it
// belongs to holds. Slots may report (ReportError, which may throw); the
// layer keeps its pairs (begin/end) intact when one does.
//
// Navigation (GoTop, GoBottom, SKIP, GO), while IndexActive:
//   begin_position  before the command moves;    paired with end_position,
//   end_position    after it, also when a report unwinds the command.
//   first, last     the first/last record number in key order (0: none).
//   next, prior     the record after/before the current one in key order;
//                   answering the current record, or at_end/at_beginning
//                   true afterwards, ends the order in that direction.
//   at_end, at_beginning   whether the order is exhausted (dEOF/dBOF ask).
//   sync            the area now stands on its current record (read, or
//                   the phantom record count + 1): position the order there.
//   mark_beginning, mark_end   the command ran off the front/back.
//   finish          the command is over (after the last sync or mark).
// Editing, while IndexOpen (and MaintainIndexes for Replace):
//   begin_update    before an Append or Replace writes; a report here
//                   stops the command before it writes. Once it worked,
//   end_update      follows the write, also when a report unwinds.
//   remember_keys   Replace: the typed record holds the stored values of
//                   the record about to change; the engine keeps its keys.
//   update_keys     Replace: the new values are written; keys that changed
//                   move. Not called when the write failed.
//   add_keys        Append: the new record (current) is written; add its
//                   keys. Not called when the write failed.
// Closing: close   CloseArea, while IndexOpen, before the table closes.
#pragma once

#include <cstdint>
#include <functional>

namespace ov {

struct WorkArea;

struct IndexHooks {
  // Whether the area has an index open (see IndexOpen).
  std::function<bool(WorkArea&)> active;
  // Whether an order is selected (not natural order); empty: always.
  std::function<bool(WorkArea&)> ordered;
  std::function<void(WorkArea&)> begin_position, end_position;
  std::function<int32_t(WorkArea&)> first, last, next, prior;
  std::function<bool(WorkArea&)> at_end, at_beginning;
  std::function<void(WorkArea&)> sync, mark_beginning, mark_end, finish;
  std::function<void(WorkArea&)> begin_update, end_update;
  std::function<void(WorkArea&)> add_keys, remember_keys, update_keys;
  std::function<void(WorkArea&)> close;
};

bool IndexOpen(WorkArea& area);
bool IndexActive(WorkArea& area);

}  // namespace ov
