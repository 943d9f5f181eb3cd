// QuendRun: starts the program named in its settings file with the options
// and its own argument, whose ending it may rewrite, and exits at once.
//
// The byte rules below make no platform calls, so they build and are tested
// on any host; WinMain and ReadSetting are the only places that reach Windows.
#pragma once

#include <stddef.h>
#include <stdint.h>

// Every capacity counts the terminating NUL.
const size_t kValueCapacity = 260;     // one settings value, the key list, a path
const size_t kTokenCapacity = 1024;    // program token and so the settings path
const size_t kArgumentCapacity = 1024; // argument copy, before and after mapping
// Resolved path between two quotes, one blank, the options and the argument
// copy, with the NUL.
const size_t kCommandLineCapacity =
    2 + (kValueCapacity - 1) + 1 + (kValueCapacity - 1) + (kArgumentCapacity - 1) + 1;

// Flags, one for each byte value, that are true for the lead bytes of the
// ANSI code page: a lead byte and the byte after it form one character.
typedef bool LeadBytes[256];

// Marks in the table the lead bytes of the code page's ranges as the platform
// gives them: `size` bytes of first and last byte pairs, ended by a pair of
// zeros or by the end of the list. A single-byte code page has none.
void MarkLeadBytes(const unsigned char* ranges, size_t size, LeadBytes& leadBytes);

// The argument string: what follows the launcher's name on the raw command
// line and the bytes 0x01 to 0x20 behind it. Points into commandLine.
const char* ArgumentString(const char* commandLine, const LeadBytes& leadBytes);

// Copies the command line's first blank-ended token, less its double quotes,
// into token (capacity bytes). Returns the token's whole length, which is
// capacity or more when it was cut.
size_t ProgramToken(const char* commandLine, char* token, size_t capacity);

// Turns a token of `length` bytes into the settings path by writing "ini" over
// its last three bytes. False when the token is too short or was cut: then no
// settings file is read.
bool SettingsPath(char* token, size_t length);

// Appends text to the string of `length` bytes in area. Returns the new length,
// or capacity when text did not fit whole; the area stays NUL-terminated.
size_t AppendText(char* area, size_t capacity, size_t length, const char* text);

// Starts the command line in area with the program's path, between double
// quotes when it holds a blank or a tab: the started program's own parser
// would split it there. Returns the length as AppendText does.
size_t AppendProgramPath(char* area, size_t capacity, const char* path);

// True when the path names a batch file (".bat" or ".cmd", any case, before
// any trailing dots and blanks), which the platform runs through cmd.exe.
bool IsBatchFile(const char* path);

// The system error that the shell's lookup of the program means by a result
// of 32 or less. Its own codes 26 to 32 are mapped to the errors they stand
// for, and 0 to want of memory; 2, 3, 5, 8 and 11 mean what the errors of those
// numbers mean.
unsigned LookupError(intptr_t result);

// True when cmd.exe would take the argument, behind the options, as plain
// text: no "&", "|", "<", ">" or "^" outside double quotes, and no "%", CR
// or LF anywhere. Quotes toggle from the options on; a double-byte
// character's second byte is never taken for one of these.
bool IsPlainForBatch(const char* options, const char* argument, const LeadBytes& leadBytes);

// True when `name` ends the argument on one of its character boundaries, with
// at least one byte of the argument before it. Characters are compared by the
// code page: a lead byte with nothing behind it counts as the end.
bool EndsWithName(const char* argument, size_t length, const char* name, size_t nameLength,
                  const LeadBytes& leadBytes);

// The first name of the key list (kValueCapacity bytes) that ends the
// argument, or null. `count` is what the key-list read returned.
const char* FindWildCard(const char* argument, size_t length, const char* keyList, unsigned count,
                         const LeadBytes& leadBytes);

// Reads one value of the settings file at settingsPath into value
// (kValueCapacity bytes), or the key list of the section when key is null.
// Without a settings path the default stands. Returns the reader's count.
unsigned ReadSetting(const char* section, const char* key, const char* fallback, char* value,
                     const char* settingsPath);

// Replaces the argument copy's ending (kArgumentCapacity bytes) by the value of
// the first "Wild Card" name that ends it. False, with the copy unchanged,
// when the result would not fit.
bool ApplyWildCard(char* argument, const char* keyList, unsigned count, const char* settingsPath,
                   const LeadBytes& leadBytes);

// Shows the system text of the thread's last error in a warning box under
// caption, and returns once the user has dismissed it.
void ShowLastError(const char* caption);
