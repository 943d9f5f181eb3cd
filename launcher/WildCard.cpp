// The "Wild Card" table: the first listed name that ends the argument has that
// ending replaced by its value, so that a final "s" can become "*".
#include "QuendRun.h"

#include <string.h>

namespace {

// Length of a string that may run to the end of its area unclosed.
size_t BoundedLength(const char* text, size_t capacity)
{
    size_t length = 0;
    while (length < capacity && text[length] != '\0')
        ++length;
    return length;
}

// The next character of a string in the code page, advancing past it; a lead
// byte with nothing behind it reads as the end (0).
unsigned NextCharacter(const unsigned char*& at, const LeadBytes& leadBytes)
{
    unsigned character = *at;
    if (character == 0)
        return 0;
    ++at;
    if (leadBytes[character]) {
        if (*at == '\0')
            return 0;
        character = character << 8 | *at++;
    }
    return character;
}

} // namespace

bool EndsWithName(const char* argument, size_t length, const char* name, size_t nameLength,
                  const LeadBytes& leadBytes)
{
    if (nameLength == 0 || nameLength >= length)
        return false;

    // The tail must start where a character starts, or it would cut a
    // double-byte character in two.
    const size_t offset = length - nameLength;
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(argument);
    size_t boundary = 0;
    while (boundary < offset)
        boundary += leadBytes[bytes[boundary]] ? 2 : 1;
    if (boundary != offset)
        return false;

    const unsigned char* tail = bytes + offset;
    const unsigned char* key = reinterpret_cast<const unsigned char*>(name);
    for (;;) {
        const unsigned tailCharacter = NextCharacter(tail, leadBytes);
        if (tailCharacter != NextCharacter(key, leadBytes))
            return false;
        if (tailCharacter == 0)
            return true;
    }
}

const char* FindWildCard(const char* argument, size_t length, const char* keyList, unsigned count,
                         const LeadBytes& leadBytes)
{
    if (count == 0)
        return nullptr;
    // Names follow one another, each NUL-ended; an empty name or the end of
    // the area closes the list.
    for (size_t at = 0; at < kValueCapacity && keyList[at] != '\0';) {
        const char* name = keyList + at;
        const size_t nameLength = BoundedLength(name, kValueCapacity - at);
        if (at + nameLength < kValueCapacity &&
            EndsWithName(argument, length, name, nameLength, leadBytes))
            return name;
        at += nameLength + 1;
    }
    return nullptr;
}

bool ApplyWildCard(char* argument, const char* keyList, unsigned count, const char* settingsPath,
                   const LeadBytes& leadBytes)
{
    const size_t length = BoundedLength(argument, kArgumentCapacity);
    const char* name = FindWildCard(argument, length, keyList, count, leadBytes);
    if (name == nullptr)
        return true;

    // The first match ends the scan, even when its value is empty.
    char value[kValueCapacity];
    if (ReadSetting("Wild Card", name, "*", value, settingsPath) == 0)
        return true;

    const size_t offset = length - BoundedLength(name, kValueCapacity);
    const size_t valueLength = BoundedLength(value, kValueCapacity - 1);
    if (offset + valueLength >= kArgumentCapacity)
        return false;
    memcpy(argument + offset, value, valueLength);
    argument[offset + valueLength] = '\0';
    return true;
}
