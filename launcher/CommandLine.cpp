// The byte rules that take the launcher's raw command line apart: the argument
// string handed on, and the program token that names the settings file.
#include "QuendRun.h"

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

size_t AppendText(char* area, size_t capacity, size_t length, const char* text)
{
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
