#pragma once
// A visit's result as one JSON object, the line --format jsonl writes for each finished proxy:
//
//   {"position":3,"count":9,"line":"127.0.0.1:8080(\u00d7)","host":"127.0.0.1","port":8080,
//    "mark":"fail","milliseconds":12,"reason":"Connection Failed"}
//
// position is the line's place in the list (from 1) and count the list's length; line is the line as the
// run left it (unchanged for a stopped visit); host and port are what the run cut from it; mark is one of
// ok, fallback, fail, stopped; reason is null after a success and cut to MaxReasonCharacters like a
// printed one. The texts are the system's Shift-JIS converted to Unicode; the object is written in ASCII
// alone, every other character as a \u escape, so no mark or control byte of a peer's reaches a reader
// that looks at bytes.
#include "app/Unit1.h"

#include <string>

// The object, on one line without its line end.
std::string JsonResultLine(const TVisitResult& Result);

// "ok", "fallback", "fail", or "stopped" for None.
const char* MarkName(TProxyMark Mark);
