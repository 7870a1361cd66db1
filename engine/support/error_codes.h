// The codes the engine reports (ReportError), by name. Their descriptions
// are the error table in ovcommon.cpp; operating-system codes come from the
// platform layer's mapping and keep their numbers there.
#pragma once

#include <cstdint>

namespace ov::err {

// Operating-system file codes the engine reports itself.
inline constexpr uint16_t kFileNotFound = 2;
inline constexpr uint16_t kAccessDenied = 5;
inline constexpr uint16_t kBadMemoryBlock = 9;
inline constexpr uint16_t kWriteFault = 29;
inline constexpr uint16_t kReadFault = 30;
// Run-time input/output.
inline constexpr uint16_t kDiskRead = 100;
inline constexpr uint16_t kDiskWrite = 101;
inline constexpr uint16_t kFileNotOpen = 103;
inline constexpr uint16_t kNotOpenForInput = 104;
// A value outside what its target can hold (a number too wide for its field).
inline constexpr uint16_t kRangeCheck = 201;
// Tables and work areas.
inline constexpr uint16_t kNotDbaseFile = 210;
inline constexpr uint16_t kBadFieldDefinition = 211;
inline constexpr uint16_t kBeyondRange = 212;
inline constexpr uint16_t kUnexpectedEof = 213;
inline constexpr uint16_t kFileInUse = 214;
inline constexpr uint16_t kNoDatabase = 215;
inline constexpr uint16_t kNoMemory = 217;
inline constexpr uint16_t kBadParameter = 220;
// Index files.
inline constexpr uint16_t kIndexNotOpen = 221;
inline constexpr uint16_t kBadIndex = 222;
// An index file whose header cannot be read as one.
inline constexpr uint16_t kBadIndexHeader = 223;
inline constexpr uint16_t kExclusiveRequired = 225;
inline constexpr uint16_t kDiskSpace = 227;
// A 48th tag: an index file has 47 tag slots. Refused before the build
// writes anything, as an invalid parameter.
inline constexpr uint16_t kTooManyTags = kBadParameter;
// A key expression longer than 220 characters.
inline constexpr uint16_t kKeyTooLong = 300;
inline constexpr uint16_t kInternal = 254;
inline constexpr uint16_t kBadSize = 266;
// Expressions.
inline constexpr uint16_t kExprSyntax = 351;
inline constexpr uint16_t kExprPoolOverflow = 354;
inline constexpr uint16_t kExprStackType = 356;
inline constexpr uint16_t kExprDivideByZero = 358;
inline constexpr uint16_t kExprEmpty = 359;
inline constexpr uint16_t kExprKeyTooLong = 360;
inline constexpr uint16_t kExprBadKeyType = 361;
inline constexpr uint16_t kExprNotLogical = 362;
// Memo files.
inline constexpr uint16_t kMemoAddress = 1003;
inline constexpr uint16_t kMemoDiskFull = 1004;
inline constexpr uint16_t kMemoWrite = 1005;
inline constexpr uint16_t kMemoOpen = 1007;
inline constexpr uint16_t kMemoPackSpace = 1012;
inline constexpr uint16_t kMemoLock = 1017;
inline constexpr uint16_t kMemoUnlock = 1018;
inline constexpr uint16_t kMemoNoTable = 1019;
// In-memory tables, operations.
inline constexpr uint16_t kListOperation = 1100;
inline constexpr uint16_t kInvalidOperation = 1103;
// Locks.
inline constexpr uint16_t kRecordNotLocked = 1200;
inline constexpr uint16_t kFileNotLocked = 1201;
// The index semaphore file: a lock on it or on the table for log-in and
// log-out not obtained in time, or a writer's wait for readers timed out.
inline constexpr uint16_t kSemaphore = 1202;

}  // namespace ov::err
