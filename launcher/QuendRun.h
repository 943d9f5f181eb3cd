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
// cmd.exe's switches in front of a batch file's line: no AutoRun commands, no
// delayed expansion, and /s so that it strips exactly the outer pair of quotes
// that the line is then given, whatever the line holds.
const char kBatchSwitches[] = "cmd.exe /d /v:off /s /c \"";
// cmd.exe's switches (the outer quote's closing pair counted with their NUL),
// the resolved path between two quotes, one blank, the options and the
// argument copy, with the NUL.
const size_t kCommandLineCapacity = sizeof kBatchSwitches + 2 + (kValueCapacity - 1) + 1 +
                                    (kValueCapacity - 1) + (kArgumentCapacity - 1) + 1;

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

// True when the program token ended at a blank between double quotes: the
// launcher's path held a blank, and the token is only its front.
bool TokenCutInsideQuotes(const char* commandLine);

// True when the folder the profile reader would read the settings path in is
// the current folder's choice rather than the launcher's: a drive-relative
// name ("Q:ini", from "Q:\My Tools\QuendRun.exe"), or a relative one with a
// folder in it made from a token cut inside quotes. Full paths, and names
// without a folder, which are read from the Windows folder, are not.
bool IsChosenByCurrentFolder(const char* settingsPath, bool cutInsideQuotes);

// Copies the launcher's path as its starter wrote it into area (capacity
// bytes), cut to fit: the bytes in front of the argument string, less their
// double quotes and the blanks and control bytes behind them.
void LauncherPath(const char* commandLine, const char* argument, char* area, size_t capacity);

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

// True when cmd.exe would take the batch file's path and the argument, behind
// the options, as plain text: no "%" in the path, which cmd.exe expands even
// between quotes, nor a line break; in the argument no "&", "|", "<", ">" or "^" outside double
// quotes, and no "%", CR or LF anywhere. Quotes toggle from the options on; a
// double-byte character's second byte is never taken for one of these.
bool IsPlainForBatch(const char* path, const char* options, const char* argument,
                     const LeadBytes& leadBytes);

// Builds in area the line that cmd.exe is started with to run the batch file
// at path: its switches, then the quoted path, a blank, the options and the
// argument, all within one outer pair of quotes. Returns the length as
// AppendText does.
size_t BatchCommandLine(char* area, size_t capacity, const char* path, const char* options,
                        const char* argument);

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
