// The suffix comparison and the "Wild Card" mapping, with a fake profile
// reader standing in for the settings file.
#include "CodePages.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

// The settings file of the current test: "Wild Card" values by name.
std::map<std::string, std::string> wildCardValues;
std::vector<std::string> valuesRead;

} // namespace

unsigned ReadSetting(const char* section, const char* key, const char* fallback, char* value,
                     const char*)
{
    EXPECT_STREQ(section, "Wild Card");
    EXPECT_NE(key, nullptr);
    valuesRead.push_back(key);
    const auto found = wildCardValues.find(key);
    const std::string text = found == wildCardValues.end() ? fallback : found->second;
    const size_t length = std::min(text.size(), kValueCapacity - 1);
    std::memcpy(value, text.data(), length);
    value[length] = '\0';
    return static_cast<unsigned>(length);
}

namespace {

struct EndingCase {
    const char* argument;
    const char* name;
    bool japanese;
    bool matches;
};

TEST(EndsWithName, ComparesCharactersFromABoundary)
{
    const EndingCase cases[] = {
        {"notes", "s", false, true},
        {"s", "s", false, false},                   // nothing precedes the name
        {"a.txt", "a.txt", false, false},
        {"a.txt", ".TXT", false, false},            // case matters
        {"a*", "*", false, true},                   // no patterns: '*' and '?' are bytes
        {"ab", "*", false, false},
        {"a?", "?", false, true},
        {"ab", "?", false, false},
        {"\"a b\"", "\"", false, true},
        {"\"a b\"", "b", false, false},
        {"notes ", "s", false, false},              // a trailing blank is part of it
        // A tail starting on a second byte does not match in code page 932...
        {"x\x83s", "s", true, false},
        {"x\x83\\", "\\", true, false},
        {"\x83s\x83s", "s", true, false},
        // ...but the same bytes are single characters in code page 1252.
        {"x\x83s", "s", false, true},
        {"x\x83\\", "\\", false, true},
        {"\x83s\x83s", "\x83s", true, true},
        {"a\x82\xa0", "\x82\xa0", true, true},
        {"\x82\xa0s", "s", true, true},
        // A lead byte with nothing behind it reads as the end.
        {"ab\x81", "\x82", true, true},
        {"ab\x81", "\x82", false, false},
        {"abc\x81", "c\x82", true, true},
        {"abc\x81", "d\x81", true, false},
        {"ab\x81", "b", true, false},
    };
    for (const EndingCase& c : cases) {
        const LeadBytes& lead = c.japanese ? CodePage932() : CodePage1252();
        EXPECT_EQ(EndsWithName(c.argument, std::strlen(c.argument), c.name, std::strlen(c.name), lead),
                  c.matches)
            << c.argument << " / " << c.name << (c.japanese ? " (932)" : "");
    }
}

// A key list as the reader leaves it in its 260-byte area.
struct KeyList {
    char area[kValueCapacity] = {};
    explicit KeyList(const std::string& names) { std::memcpy(area, names.data(), names.size()); }
};

struct MappingCase {
    const char* description;
    std::string names;                          // NUL-separated
    unsigned count;
    std::map<std::string, std::string> values;
    std::string argument;
    std::string mapped;
    std::vector<std::string> read;              // the values the mapping asked for
};

TEST(ApplyWildCard, ReplacesTheFirstMatchingEnding)
{
    const std::string s("s\0", 2);
    const MappingCase cases[] = {
        {"default table", s, 1, {}, "notes", "note*", {"s"}},
        {"name as long as the argument", s, 1, {}, "s", "s", {}},
        {"no match", s, 1, {}, "a.txt", "a.txt", {}},
        {"file order, first match wins", std::string("t\0.txt\0", 7), 6,
         {{"t", "x"}, {".txt", "y"}}, "a.txt", "a.txx", {"t"}},
        {"a later name matches", std::string(".doc\0.txt\0", 10), 9,
         {{".doc", "d"}, {".txt", "y"}}, "a.txt", "ay", {".txt"}},
        {"empty value ends the scan", std::string(".txt\0t\0", 7), 6,
         {{".txt", ""}, {"t", "x"}}, "a.txt", "a.txt", {".txt"}},
        {"longer value", std::string(".txt\0", 5), 4, {{".txt", ".markdown"}}, "a.txt",
         "a.markdown", {".txt"}},
        {"shorter value", std::string(".html\0", 6), 5, {{".html", ".h"}}, "i.html", "i.h", {".html"}},
        {"quoted argument", std::string("\"\0", 2), 1, {{"\"", "*\""}}, "\"a b\"", "\"a b*\"", {"\""}},
        {"reader returned nothing", s, 0, {}, "notes", "notes", {}},
        {"empty first name", std::string("\0s\0", 3), 2, {}, "notes", "notes", {}},
    };
    for (const MappingCase& c : cases) {
        wildCardValues = c.values;
        valuesRead.clear();
        KeyList list(c.names);
        char argument[kArgumentCapacity];
        std::memcpy(argument, c.argument.c_str(), c.argument.size() + 1);
        EXPECT_TRUE(ApplyWildCard(argument, list.area, c.count, "x.ini", CodePage1252()))
            << c.description;
        EXPECT_EQ(std::string(argument), c.mapped) << c.description;
        EXPECT_EQ(valuesRead, c.read) << c.description;
    }
}

TEST(ApplyWildCard, ACutNameIsReadUnderItsCutForm)
{
    // Names fill the area; the reader cut the last one to "abc" and closed it.
    std::string names;
    while (names.size() < kValueCapacity - 10)
        names += "k" + std::to_string(names.size()) + '\0';
    names += "abc";
    names.resize(kValueCapacity, '\0');
    KeyList list(names);
    wildCardValues = {{"abcdef", "never"}};
    valuesRead.clear();
    char argument[kArgumentCapacity] = "x.abc";
    EXPECT_TRUE(ApplyWildCard(argument, list.area, kValueCapacity - 2, "x.ini", CodePage1252()));
    EXPECT_STREQ(argument, "x.*");
    EXPECT_EQ(valuesRead, std::vector<std::string>{"abc"});
}

TEST(ApplyWildCard, AnUnclosedListIsNotReadPastItsArea)
{
    KeyList list(std::string(kValueCapacity, 'n'));
    wildCardValues = {};
    valuesRead.clear();
    char argument[kArgumentCapacity] = "xnnn";
    EXPECT_TRUE(ApplyWildCard(argument, list.area, kValueCapacity - 2, "x.ini", CodePage1252()));
    EXPECT_STREQ(argument, "xnnn");
    EXPECT_TRUE(valuesRead.empty());
}

TEST(ApplyWildCard, AResultThatWouldNotFitLeavesTheArgument)
{
    wildCardValues = {{"s", "12345"}};
    KeyList list(std::string("s\0", 2));
    for (size_t length : {kArgumentCapacity - 6, kArgumentCapacity - 5, kArgumentCapacity - 1}) {
        const std::string original = std::string(length - 1, 'a') + "s";
        char argument[kArgumentCapacity];
        std::memcpy(argument, original.c_str(), length + 1);
        const bool fits = length - 1 + 5 < kArgumentCapacity;
        EXPECT_EQ(ApplyWildCard(argument, list.area, 1, "x.ini", CodePage1252()), fits) << length;
        EXPECT_EQ(std::string(argument), fits ? original.substr(0, length - 1) + "12345" : original);
    }
}

TEST(ApplyWildCard, LeavesHalfCharactersAloneInCodePage932)
{
    wildCardValues = {};
    KeyList list(std::string("s\0", 2));
    for (const char* text : {"file\x83s", "\x83s"}) {
        char argument[kArgumentCapacity];
        std::strcpy(argument, text);
        valuesRead.clear();
        EXPECT_TRUE(ApplyWildCard(argument, list.area, 1, "x.ini", CodePage932()));
        EXPECT_STREQ(argument, text);
        EXPECT_TRUE(valuesRead.empty());
    }
}

} // namespace
