// The compiled form of a dBASE expression, shared by the compiler and the
// evaluator.
//
// An expression compiles to postfix code: a list of code items run in
// order until the item with opcode kOpEnd. Opcode 0 pushes the item's
// constant; field opcodes (321..330) pop the field number (and, for an
// aliased field, the work-area number above it) pushed as L-typed
// constants just before them; every other opcode pops its operands (the
// last argument on top) and pushes one result.
//
// Values: C is a NUL-terminated string in the expression's working pool
// (its result buffer, used as a stack allocator), N and D a double (D a
// Julian day number, 1e100 for an empty date), L a 32-bit Boolean.
//
// Single-threaded, process-wide state in the compiler and evaluator.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace ov {

// Internal data type codes.
enum TypeCode : int32_t {
  kTypeC = 331,
  kTypeN = 332,
  kTypeL = 333,
  kTypeD = 334,
  kTypeM = 335,
};

// Token numbers; the same numbers are the opcodes of functions and fields.
namespace tok {
inline constexpr int32_t kAbs = 257, kAsc = 259, kAt = 261, kCdow = 264, kChr = 266, kCmonth = 267, kCtod = 269,
                         kDate = 270, kDay = 271, kDeleted = 272, kDow = 274, kDtoc = 275, kDtos = 277, kIif = 283,
                         kInt = 284, kLeft = 288, kLen = 289, kLower = 292, kLtrim = 293, kMax = 294, kMin = 295,
                         kMod = 296, kMonth = 297, kRecno = 300, kReplicate = 301, kRight = 302, kRound = 303,
                         kRtrim = 305, kSoundex = 308, kSpace = 310, kStr = 311, kStuff = 312, kSubstr = 313,
                         kTrim = 316, kUpper = 318, kVal = 319, kYear = 320;
// Field references: C, N, L, D, M; the aliased forms are 5 higher.
inline constexpr int32_t kFieldC = 321, kFieldN = 322, kFieldL = 323, kFieldD = 324, kFieldM = 325;
inline constexpr int32_t kAliasFieldC = 326, kAliasFieldM = 330;
inline constexpr int32_t kStringLit = 331, kNumberLit = 332;
inline constexpr int32_t kEot = 336, kFalse = 337, kTrue = 338, kNot = 339, kOr = 340, kAnd = 341;
inline constexpr int32_t kNotEqual = 342, kLessEq = 343, kGreaterEq = 344, kExactEq = 345, kContains = 346;
inline constexpr int32_t kError = 256;
}  // namespace tok

// Opcodes beyond the token numbers.
namespace op {
inline constexpr int32_t kPush = 0, kEnd = -1;
inline constexpr int32_t kAddNN = 347, kAddND = 348, kAddDN = 349, kAddCC = 350;
inline constexpr int32_t kSubNN = 351, kSubDN = 352, kSubDD = 353, kSubCC = 354;
inline constexpr int32_t kMul = 355, kDiv = 356, kPow = 357;
inline constexpr int32_t kEqN = 358, kEqD = 359, kEqC = 360, kEqL = 361, kExactEqC = 362, kContainsC = 363;
inline constexpr int32_t kGtN = 364, kGtD = 365, kGtC = 366;
inline constexpr int32_t kLtN = 367, kLtD = 368, kLtC = 369;
inline constexpr int32_t kNeN = 370, kNeD = 371, kNeC = 372, kNeL = 373;
inline constexpr int32_t kLeN = 374, kLeD = 375, kLeC = 376;
inline constexpr int32_t kGeN = 377, kGeD = 378, kGeC = 379;
inline constexpr int32_t kOr = 380, kAnd = 381, kNot = 382, kNeg = 383;
}  // namespace op

// One code item; also the layout of a working-stack entry.
struct CodeItem {
  int32_t opcode = 0;
  int32_t argc = 0;
  int32_t type = 0;  // data type code of a constant or a stack value
  union {
    double num;       // N, D
    int32_t logical;  // L (also field and work-area numbers of field pushes)
    const char* str;  // C, M: NUL-terminated, in the pool or the literal store
  } value{0.0};
};

// A compiled expression, owned by whoever compiled it until FreeExpr.
struct CompiledExpr {
  std::string source;
  char result_type = 'C';  // C, N, L, D or M
  uint16_t result_length = 0;
  uint8_t decimals = 0;
  std::vector<CodeItem> code;   // postfix code, ending with kEnd
  std::vector<CodeItem> stack;  // working stack, nodes kept between evaluations
  std::vector<char> literals;   // the string constants the code points into
  uint16_t buffer_size = 0;
  std::unique_ptr<char[]> buffer;  // result buffer = working pool
  char* pool_top = nullptr;
  const void* result = nullptr;  // where Evaluate leaves the value
};

}  // namespace ov
