// The byte rules of the command lines: the launcher's own, taken apart into the
// argument string handed on and the program token that names the settings
// file; and the one it starts, led by the program's path, with what a failed
// lookup of that path means. Both are read with the lead bytes marked from the
// code page's ranges, so that a double-byte character stays whole.
#include "QuendRun.h"

#include <string.h>

namespace {

// System errors, numbered as the platform numbers them.
const unsigned kNotEnoughMemory = 8;   // ERROR_NOT_ENOUGH_MEMORY
const unsigned kSharingViolation = 32; // ERROR_SHARING_VIOLATION
const unsigned kNoAssociation = 1155;  // ERROR_NO_ASSOCIATION
const unsigned kDdeFail = 1156;        // ERROR_DDE_FAIL
const unsigned kDllNotFound = 1157;    // ERROR_DLL_NOT_FOUND

// The shell's own lookup codes, from SE_ERR_SHARE on, and the errors they mean.
const intptr_t kFirstShellCode = 26;
const unsigned kShellCodeErrors[] = {
    kSharingViolation, // SE_ERR_SHARE
    kNoAssociation,    // SE_ERR_ASSOCINCOMPLETE
    kDdeFail,          // SE_ERR_DDETIMEOUT
    kDdeFail,          // SE_ERR_DDEFAIL
    kDdeFail,          // SE_ERR_DDEBUSY
    kNoAssociation,    // SE_ERR_NOASSOC
    kDllNotFound,      // SE_ERR_DLLNOTFOUND
};
const intptr_t kShellCodeCount = sizeof kShellCodeErrors / sizeof kShellCodeErrors[0];

} // namespace

void MarkLeadBytes(const unsigned char* ranges, size_t size, LeadBytes& leadBytes)
{
    for (size_t at = 0; at + 1 < size && ranges[at] != 0; at += 2)
        for (unsigned lead = ranges[at]; lead <= ranges[at + 1]; ++lead)
            leadBytes[lead] = true;
}

const char* ArgumentString(const char* commandLine, const LeadBytes& leadBytes)
{
    const unsigned char* at = reinterpret_cast<const unsigned char*>(commandLine);

    // Skip the launcher's name: quoted, it runs to the closing quote, which a
    // double-byte character's second byte never is; unquoted, to the first
    // blank or control byte.
    if (*at == '"') {
        ++at;
        while (*at != '\0' && *at != '"') {
            if (leadBytes[*at] && at[1] != '\0')
                ++at;
            ++at;
        }
        if (*at == '"')
            ++at;
    } else {
        while (*at > ' ')
            ++at;
    }

    while (*at != '\0' && *at <= ' ')
        ++at;
    return reinterpret_cast<const char*>(at);
}

size_t ProgramToken(const char* commandLine, char* token, size_t capacity)
{
    size_t length = 0;
    for (const char* at = commandLine; *at != '\0' && *at != ' '; ++at) {
        if (*at == '"')
            continue;
        if (length + 1 < capacity)
            token[length] = *at;
        ++length;
    }
    token[length < capacity ? length : capacity - 1] = '\0';
    return length;
}

bool SettingsPath(char* token, size_t length)
{
    if (length < 3 || length >= kTokenCapacity)
        return false;
    token[length - 3] = 'i';
    token[length - 2] = 'n';
    token[length - 1] = 'i';
    return true;
}

bool TokenCutInsideQuotes(const char* commandLine)
{
    bool quoted = false;
    for (const char* at = commandLine; *at != '\0'; ++at) {
        if (*at == ' ')
            return quoted;
        if (*at == '"')
            quoted = !quoted;
    }
    return false;
}

bool IsChosenByCurrentFolder(const char* settingsPath, bool cutInsideQuotes)
{
    // A colon stands in a real path only behind a drive letter; with no
    // backslash or slash after it, the name is read in that drive's current
    // folder. Two of them in front begin a full network path.
    const char* mark = settingsPath;
    while (*mark != '\0' && *mark != ':' && *mark != '\\' && *mark != '/')
        ++mark;
    if (*mark == '\0')
        return false;
    if (*mark == ':')
        return mark[1] != '\\' && mark[1] != '/';
    const bool network = mark == settingsPath && (mark[1] == '\\' || mark[1] == '/');
    return cutInsideQuotes && !network;
}

void LauncherPath(const char* commandLine, const char* argument, char* area, size_t capacity)
{
    const char* end = argument;
    while (end > commandLine && static_cast<unsigned char>(end[-1]) <= ' ')
        --end;
    size_t length = 0;
    for (const char* at = commandLine; at < end && length + 1 < capacity; ++at)
        if (*at != '"')
            area[length++] = *at;
    area[length] = '\0';
}

size_t AppendText(char* area, size_t capacity, size_t length, const char* text)
{
    // A string that already filled the area takes nothing more, not even a NUL.
    if (length >= capacity)
        return capacity;
    while (*text != '\0') {
        if (length + 1 >= capacity) {
            area[capacity - 1] = '\0';
            return capacity;
        }
        area[length++] = *text++;
    }
    area[length] = '\0';
    return length;
}

size_t AppendProgramPath(char* area, size_t capacity, const char* path)
{
    bool blank = false;
    for (const char* at = path; *at != '\0'; ++at)
        blank = blank || *at == ' ' || *at == '\t';
    if (!blank)
        return AppendText(area, capacity, 0, path);
    size_t length = AppendText(area, capacity, 0, "\"");
    length = AppendText(area, capacity, length, path);
    return AppendText(area, capacity, length, "\"");
}

unsigned LookupError(intptr_t result)
{
    if (result == 0)
        return kNotEnoughMemory;
    if (result >= kFirstShellCode && result < kFirstShellCode + kShellCodeCount)
        return kShellCodeErrors[result - kFirstShellCode];
    return static_cast<unsigned>(result);
}

bool IsBatchFile(const char* path)
{
    // The platform drops a name's trailing dots and blanks: "run.bat. ." is run.bat.
    size_t length = strlen(path);
    while (length > 0 && (path[length - 1] == '.' || path[length - 1] == ' '))
        --length;
    if (length < 4 || path[length - 4] != '.')
        return false;
    // Setting bit 5 makes a capital its small letter, and no other byte one.
    const int first = path[length - 3] | 0x20;
    const int second = path[length - 2] | 0x20;
    const int third = path[length - 1] | 0x20;
    return (first == 'b' && second == 'a' && third == 't') ||
           (first == 'c' && second == 'm' && third == 'd');
}

bool IsPlainForBatch(const char* path, const char* options, const char* argument,
                     const LeadBytes& leadBytes)
{
    for (const char* at = path; *at != '\0'; ++at)
        if (*at == '%' || *at == '\r' || *at == '\n')
            return false;

    // cmd.exe reads the line after the path as one text: the options' quotes
    // and a lead byte at their end carry over into the argument.
    const char* const parts[] = {options, argument};
    bool quoted = false;
    bool secondByte = false;
    for (size_t part = 0; part < 2; ++part) {
        for (const unsigned char* at = reinterpret_cast<const unsigned char*>(parts[part]);
             *at != '\0'; ++at) {
            if (secondByte) {
                secondByte = false;
            } else if (leadBytes[*at]) {
                secondByte = true;
            } else if (*at == '"') {
                quoted = !quoted;
            } else if (part == 1) {
                if (*at == '%' || *at == '\r' || *at == '\n')
                    return false;
                if (!quoted && (*at == '&' || *at == '|' || *at == '<' || *at == '>' || *at == '^'))
                    return false;
            }
        }
    }
    return true;
}

size_t BatchCommandLine(char* area, size_t capacity, const char* path, const char* options,
                        const char* argument)
{
    // cmd.exe /s takes off the first quote and the last one on the line and
    // runs the rest: the quoted path, then what it is given.
    size_t length = AppendText(area, capacity, 0, kBatchSwitches);
    length = AppendText(area, capacity, length, "\"");
    length = AppendText(area, capacity, length, path);
    length = AppendText(area, capacity, length, "\" ");
    length = AppendText(area, capacity, length, options);
    length = AppendText(area, capacity, length, argument);
    return AppendText(area, capacity, length, "\"");
}
