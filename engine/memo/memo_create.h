// Creation of empty memo files of every kind.
//
//   dBASE III (0x83): 512-byte header, next free block u32 at 0 (1), then
//                     one 0x1A byte: a fresh file is 513 bytes.
//   dBASE IV (0x8B) / level 7 (0x8C): 24 header bytes: first free block
//                     u32 at 0 (1), table name (8 bytes) at 8, 0x0102 at
//                     18, block size u16 at 20.
//   FoxPro (0xF5):    512-byte header, big-endian: next free block u32 at 0
//                     (511 div block size + 1), block size u16 at 6.
#pragma once

#include <cstdint>
#include <string>

namespace ov {

enum class MemoKind : uint8_t { kDbase3 = 0x83, kDbase4 = 0x8B, kLevel7 = 0x8C, kFox = 0xF5 };

// The memo kind of a table version byte; other bytes take CreateVersion's.
MemoKind MemoKindOf(uint8_t version);

// Whether memo files of `kind` can have blocks of `size` bytes: dBASE IV
// and level 7 blocks must clear the header and the released-block counter
// of block 0 (40 bytes at least); FoxPro blocks must hold a block header
// (8), as other programs read smaller ones wrongly. Creation and opening
// both ask this, so what is made can be opened.
bool MemoBlockSizeFits(MemoKind kind, uint16_t size);
// Whether CreateMemofileOfKind would accept `block_size` (0 = the default),
// so a table is not written when its memo file could not be.
bool MemoBlockSizeCreatable(MemoKind kind, uint16_t block_size);

// `ext` in the letter case of the extension of `table_path`, letter by
// letter: a new memo file looks like its table ("t.dbf" with "t.dbt").
std::string ExtInCaseOf(const std::string& table_path, const std::string& ext);

// Creates (truncates) the memo file `name` (given the kind's extension when
// it has none). Failures report the OS code, or 1003 for a block size the
// kind cannot have (no file is made), with
// "Cannot create memo file <name> [<routine>]". A block size of 0 takes the
// kind's default (64 FoxPro, 512 otherwise).
void CreateMemofileOfKind(const std::string& name, MemoKind kind, uint16_t block_size, const std::string& routine);

// An empty memo file of kind CreateVersion and block size MemoBlockSize.
void CreateMemofile(const std::string& name);

}  // namespace ov
