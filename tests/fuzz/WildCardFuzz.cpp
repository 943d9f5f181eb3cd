// Fuzz target: the suffix comparison and the "Wild Card" mapping, fed an
// argument, a key list of any shape and the values of a fake settings file.
//
// Input layout (every part may be missing; what is missing is empty):
//   byte 0      flags: bits 0-1 the key-list count (0 the list's length cut to
//               258, 1 zero, 2 one, 3 258); bit 2 fill the key-list area behind
//               the given bytes with byte 1 instead of NULs, so the list may run
//               unclosed to the area's end
//   byte 1      the fill byte
//   2 bytes     argument length, little-endian, modulo 1024; then its bytes
//               (the argument ends at its first NUL)
//   2 bytes     key-list length, modulo 261; then its bytes
//   then        values: a name length byte, the name, a 2-byte value length
//               modulo 512, the value; the reader cuts values to 259 bytes
//
// Each input runs in code pages 1252 and 932. The argument area, the key list
// and the value area are allocated to their exact capacities.
#include "CodePages.h"

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

const char kSettingsPath[] = "Z:\\fuzz\\QuendRun.ini";

struct Input {
    unsigned count = 0;
    std::string argument;
    std::unique_ptr<char[]> keyList{new char[kValueCapacity]};
    std::vector<std::pair<std::string, std::string>> values;
};

// The fake settings file and what the mapping asked of it.
const Input* current = nullptr;
std::vector<const char*> keysRead;

[[noreturn]] void Broken(const char* what)
{
    fprintf(stderr, "property broken: %s\n", what);
    abort();
}

void Check(bool holds, const char* what)
{
    if (!holds)
        Broken(what);
}

struct Reader {
    const uint8_t* at;
    const uint8_t* end;
    size_t Take(size_t wanted)
    {
        const size_t left = static_cast<size_t>(end - at);
        return wanted < left ? wanted : left;
    }
    unsigned Byte() { return at < end ? *at++ : 0; }
    unsigned Word()
    {
        const unsigned low = Byte();
        return low | Byte() << 8;
    }
    std::string Bytes(size_t wanted)
    {
        const size_t length = Take(wanted);
        std::string text(reinterpret_cast<const char*>(at), length);
        at += length;
        return text;
    }
};

void Parse(const uint8_t* data, size_t size, Input& input)
{
    Reader reader{data, data + size};
    const unsigned flags = reader.Byte();
    const char fill = static_cast<char>(reader.Byte());
    const std::string argument = reader.Bytes(reader.Word() % kArgumentCapacity);
    input.argument = argument.substr(0, strnlen(argument.c_str(), argument.size()));

    const std::string names = reader.Bytes(reader.Word() % (kValueCapacity + 1));
    memset(input.keyList.get(), flags & 4 ? fill : '\0', kValueCapacity);
    memcpy(input.keyList.get(), names.data(), names.size());
    const unsigned counts[] = {static_cast<unsigned>(names.size() < kValueCapacity - 2
                                                         ? names.size()
                                                         : kValueCapacity - 2),
                               0, 1, kValueCapacity - 2};
    input.count = counts[flags & 3];

    while (reader.at < reader.end) {
        std::string name = reader.Bytes(reader.Byte());
        std::string value = reader.Bytes(reader.Word() % 512);
        input.values.emplace_back(std::move(name), std::move(value));
    }
}

// The names the list holds, in order, as offsets into its area: each closed
// by a NUL inside the area; an empty name or the area's end closes the list.
std::vector<size_t> ListedNames(const char* keyList)
{
    std::vector<size_t> names;
    size_t at = 0;
    while (at < kValueCapacity && keyList[at] != '\0') {
        const void* end = memchr(keyList + at, '\0', kValueCapacity - at);
        if (end == nullptr)
            break; // runs unclosed to the area's end
        names.push_back(at);
        at = static_cast<size_t>(static_cast<const char*>(end) - keyList) + 1;
    }
    return names;
}

// One character of a string in the code page; a lead byte at the end reads
// as the end.
std::string Character(const std::string& text, size_t& at, const LeadBytes& leadBytes)
{
    if (at >= text.size())
        return std::string();
    const unsigned char byte = static_cast<unsigned char>(text[at]);
    if (!leadBytes[byte])
        return text.substr(at++, 1);
    if (at + 1 >= text.size()) {
        ++at;
        return std::string();
    }
    at += 2;
    return text.substr(at - 2, 2);
}

bool NameEnds(const std::string& argument, const std::string& name, const LeadBytes& leadBytes)
{
    if (name.empty() || name.size() >= argument.size())
        return false;
    const size_t offset = argument.size() - name.size();
    size_t boundary = 0;
    while (boundary < offset)
        boundary += leadBytes[static_cast<unsigned char>(argument[boundary])] ? 2 : 1;
    if (boundary != offset)
        return false;
    const std::string tail = argument.substr(offset);
    size_t inTail = 0, inName = 0;
    for (;;) {
        const std::string character = Character(tail, inTail, leadBytes);
        if (character != Character(name, inName, leadBytes))
            return false;
        if (character.empty())
            return true;
    }
}

void CheckMapping(const Input& input, const LeadBytes& leadBytes, bool japanese)
{
    const std::string& original = input.argument;
    std::unique_ptr<char[]> argument(new char[kArgumentCapacity]);
    memset(argument.get(), 0xA5, kArgumentCapacity);
    memcpy(argument.get(), original.c_str(), original.size() + 1);
    std::unique_ptr<char[]> listBefore(new char[kValueCapacity]);
    memcpy(listBefore.get(), input.keyList.get(), kValueCapacity);

    // The first listed name that ends the argument, by the rules written out
    // here once more.
    const char* match = nullptr;
    if (input.count != 0) {
        for (size_t at : ListedNames(input.keyList.get())) {
            if (NameEnds(original, input.keyList.get() + at, leadBytes)) {
                match = input.keyList.get() + at;
                break;
            }
        }
    }
    const char* found = FindWildCard(original.c_str(), original.size(), input.keyList.get(),
                                     input.count, leadBytes);
    Check(found == match, japanese ? "the first matching name is found (932)"
                                   : "the first matching name is found (1252)");
    if (!japanese && match != nullptr)
        Check(original.compare(original.size() - strlen(match), std::string::npos, match) == 0,
              "in code page 1252 a match is the argument's very last bytes");

    keysRead.clear();
    const bool fits = ApplyWildCard(argument.get(), input.keyList.get(), input.count,
                                    kSettingsPath, leadBytes);
    Check(memcmp(listBefore.get(), input.keyList.get(), kValueCapacity) == 0,
          "the key list is only read");
    const std::string mapped = argument.get();

    if (match == nullptr) {
        Check(keysRead.empty(), "without a match no value is read");
        Check(fits && mapped == original, "without a match the argument is unchanged");
        return;
    }
    Check(keysRead.size() == 1 && keysRead[0] == match,
          "the matched name, as listed, is the one value read");

    // The value the fake file gives for it.
    std::string value = "*";
    for (const auto& entry : input.values) {
        if (entry.first == match) {
            value = entry.second.substr(0, strnlen(entry.second.c_str(), entry.second.size()));
            break;
        }
    }
    value = value.substr(0, kValueCapacity - 1);
    const size_t offset = original.size() - strlen(match);
    if (value.empty()) {
        Check(fits && mapped == original, "an empty value leaves the argument");
    } else if (offset + value.size() >= kArgumentCapacity) {
        Check(!fits && mapped == original,
              "a result of 1024 bytes or more is refused, the argument unchanged");
    } else {
        Check(fits, "a result under 1024 bytes is accepted");
        Check(mapped.compare(0, offset, original, 0, offset) == 0 &&
                  mapped.compare(offset, std::string::npos, value) == 0,
              "the argument up to the name, then the value");
    }
}

} // namespace

// The profile reader of the fake settings file: the value of a listed key,
// cut to 259 bytes, or the default; it fills the whole area as a reader may.
unsigned ReadSetting(const char* section, const char* key, const char* fallback, char* value,
                     const char* settingsPath)
{
    Check(strcmp(section, "Wild Card") == 0 && key != nullptr && strcmp(fallback, "*") == 0 &&
              settingsPath == kSettingsPath,
          "only values of \"Wild Card\" are read, with the default *");
    Check(key >= current->keyList.get() && key < current->keyList.get() + kValueCapacity,
          "the value is read under a name of the key list");
    keysRead.push_back(key);
    memset(value, 0x5A, kValueCapacity);
    std::string text = fallback;
    for (const auto& entry : current->values) {
        if (entry.first == key) {
            text = entry.second.substr(0, strnlen(entry.second.c_str(), entry.second.size()));
            break;
        }
    }
    const size_t length = text.size() < kValueCapacity - 1 ? text.size() : kValueCapacity - 1;
    memcpy(value, text.data(), length);
    value[length] = '\0';
    return static_cast<unsigned>(length);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Input input;
    Parse(data, size, input);
    current = &input;
    CheckMapping(input, CodePage1252(), false);
    CheckMapping(input, CodePage932(), true);
    current = nullptr;
    return 0;
}
