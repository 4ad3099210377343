#pragma once
// The settings file "qelto.ini": positional lines, no sections or keys.
//
//   T                    number of target lines
//   T target lines       each trimmed
//   From text            as typed
//   Max text             as typed
//   P                    number of proxy lines
//   P proxy lines        each trimmed, marks included
//
// Lines end with CR LF on disk; loading accepts CR LF and LF.
#include "app/Controls.h"

#include <string>
#include <vector>

// The lines of a file's bytes: each line loses only its line end (LF or CR LF), whatever its length; a
// last line without a line end is a line all the same, kept whole. Nothing after the last line end is
// no line.
std::vector<std::string> SplitSettingsLines(const std::string& Bytes);

// Loads the file into the controls, appending to the lists. A missing or unreadable file loads
// nothing; a file shorter than its counts say loads what it holds and leaves the rest as it was.
void LoadSettingsFile(const std::string& FileName, TMemo& Memo2, TEdit& Edit1, TEdit& Edit2, TMemo& Memo1);

// The file's bytes for the current state of the controls.
std::string FormatSettingsFile(const TMemo& Memo2, const TEdit& Edit1, const TEdit& Edit2,
                               const TMemo& Memo1);

// Replaces FileName's content with Bytes as one step (platform::ReplaceFileAtomically): the old file stays
// whole until the new one is complete on disk, keeps its mode and its link, and a new file is private.
// True when done; on failure the old file is untouched and nothing is left behind.
bool WriteFileAtomically(const std::string& FileName, const std::string& Bytes);
