// Pieces of the COLLECT.CTL reader shared by its source files: the
// keyword codes, the words of one statement, the state of the block being
// read, and the handlers of the keywords that take words and of INSERT.
#pragma once

#include <bitset>
#include <cstdint>
#include <string_view>
#include <vector>

#include "control/cursor.h"

namespace qvx::coll {

// Keyword codes (test_word).
enum Code {
    kHistory = 1, kInsertWhere = 2, kInsert = 3, kCursor = 4, kInsertSelect = 5,
    kSatStart = 6, kSatEnd = 7, kSunStart = 8, kSunEnd = 9, kMonStart = 10, kMonEnd = 11,
    kInterval = 12, kHold = 13, kLimit = 14, kTime = 15, kDemand = 16, kClass = 17,
    kStale = 18, kGoHome = 19, kTableName = 20, kShowCursor = 21, kObjid = 22, kSet = 23,
    kUuidbase = 24, kUuidpavc = 25, kUuidpcvc = 27, kRpcVersion = 28, kEnd = 29,
    kVirtual = 30, kSamples = 31, kLoad = 32, kEmpty = 33, kPreCursor = 34, kIterate = 35,
    kInList = 36, kBase = 37, kMath = 38, kAgeTo = 39, kDecode = 40, kShowRow = 41,
    kFetchExit = 42, kScript = 43, kColumnExit = 44, kOnce = 45, kStartAfter = 46,
    kStopAfter = 47, kNoSql = 48, kIterateWhere = 49, kDummyLastRow = 50,
    kConditionalDummyLastRow = 51, kSetLen = 52, kTrace = 53, kTraced = 54, kTracem = 55,
    kTraceAll = 56, kIf = 57, kElse = 58, kEndif = 59,
    kCodeLimit = 60,
};

// One word of a statement as the scanner found it.
struct Word {
    std::string_view text;
    int position = 0;
    uint16_t flags = 0;
};

// What the reader remembers while a block is open.
struct BlockState {
    std::bitset<kCodeLimit> seen;  // keywords given a value in this block
    // Window starts and ends waiting for their partner, by day kind (-1: none).
    long start[3] = {-1, -1, -1};
    long end[3] = {-1, -1, -1};
};

// Applies one argument word of a keyword that takes words (numbers,
// names, windows). False after an error, which is reported.
bool word_argument(int code, std::string_view value, curs& cursor, BlockState& block);

// Warns about window starts or ends left without their partner when a
// block closes.
void unpaired_windows(const curs& cursor, const BlockState& block);

// The INSERT statement (its whole text and its words): model INSERT,
// table names and compaction. False after errors, which are reported.
bool insert_statement(curs& cursor, std::string_view text, const std::vector<Word>& words);

} // namespace qvx::coll
