#pragma once

#include "protocol/SettingsRecord.h"

#include <cstddef>
#include <span>

namespace tvx {

// The settings command vocabulary as data: what each read command asks for
// and where its value goes, and which write line carries which field under
// which condition. The read and write sequences walk these tables in order.

// Where a field of the record lies; the room includes the terminating zero.
struct RecordField {
    size_t offset;
    size_t room;
};

enum class ReadStore {
    Text, // the value after the echo, cut to the field's room
    Flag, // webEn: 0 when the first character after the echo is "0", else 1
    Nothing, // any non-empty reply is accepted and nothing is kept
};

struct ReadStep {
    const char* request; // the whole line, CR LF included
    const char* echo; // prefix the reply text must begin with; nullptr: none
    ReadStore store;
    RecordField field;
    const char* fallback; // stored when the reply lacks its echo; nullptr: the read fails
};

enum class WriteArg { Text, Flag };

enum class WriteCondition {
    Always,
    PasswordChange, // passwdChg is not 0
    PackDelimiter, // first packing switch is "1"
    PackTimeout, // second packing switch is "1"
    PackLength, // third packing switch is "1"
    StaticAddress, // lanIpCfg begins with "0"
    ModeServer, // sp0_opmode begins with "TS"
    ModeClient, // sp0_opmode begins with "TC"
};

struct WriteLine {
    const char* format; // one "%s" or "%d", CR LF included
    WriteArg arg;
    RecordField field;
    const char* expected; // prefix the reply text must begin with
    WriteCondition condition;
};

// The 25 read steps and the write lines before "$SEI", each in wire order.
std::span<const ReadStep> readSteps();
std::span<const WriteLine> writeLines();

// The last line of every write that got that far; its reply is not examined.
inline constexpr char kSaveAndRestartLine[] = "$SEI\r\n";

// Applies the reply text `reply` (length `length`, at least 1) of `step` to
// the record. False when the reply lacks its echo and the step has no default.
bool storeReadReply(const ReadStep& step, const char* reply, size_t length, SettingsRecord& record);

bool writeLineApplies(const WriteLine& line, const SettingsRecord& record);

// Formats `line` with the record's value into `out` (of `room` bytes) and
// returns the line's length without a terminating zero.
size_t formatWriteLine(const WriteLine& line, const SettingsRecord& record, char* out, size_t room);

} // namespace tvx
