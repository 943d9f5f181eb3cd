// The raw command line taken apart: argument string, program token, settings
// path, the bounded appends the command line is built with, and what a failed
// lookup of its program means.
#include "CodePages.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

// Lead-byte ranges as the platform gives them: MAX_LEADBYTES bytes.
typedef unsigned char Ranges[12];

struct LeadByteCase {
    const char* description;
    Ranges ranges;
    std::vector<unsigned> lead;   // bytes that must be lead bytes
    std::vector<unsigned> single; // bytes that must not be
};

TEST(MarkLeadBytes, MarksEveryRangeWhole)
{
    const LeadByteCase cases[] = {
        // Both ranges of code page 932, their ends and the bytes beside them;
        // half-width katakana (0xA1-0xDF) lie between and are single bytes.
        {"code page 932",
         {0x81, 0x9F, 0xE0, 0xFC},
         {0x81, 0x9F, 0xE0, 0xFC},
         {0x00, 0x80, 0xA0, 0xA1, 0xDF, 0xFD, 0xFF}},
        {"single-byte code page", {}, {}, {0x00, 0x81, 0xA1, 0xE0, 0xFF}},
        // Six ranges fill the list, with no pair of zeros after them.
        {"full list",
         {0x81, 0x81, 0x83, 0x84, 0x86, 0x86, 0x88, 0x88, 0x8A, 0x8A, 0xFE, 0xFF},
         {0x81, 0x83, 0x84, 0x86, 0x88, 0x8A, 0xFE, 0xFF},
         {0x80, 0x82, 0x85, 0x87, 0x89, 0x8B, 0xFD}},
    };
    for (const LeadByteCase& c : cases) {
        // In an area of their own, so that a read past the list is caught.
        const std::unique_ptr<unsigned char[]> ranges(new unsigned char[sizeof c.ranges]);
        std::memcpy(ranges.get(), c.ranges, sizeof c.ranges);
        LeadBytes leadBytes = {};
        MarkLeadBytes(ranges.get(), sizeof c.ranges, leadBytes);
        for (unsigned byte : c.lead)
            EXPECT_TRUE(leadBytes[byte]) << c.description << std::hex << " 0x" << byte;
        for (unsigned byte : c.single)
            EXPECT_FALSE(leadBytes[byte]) << c.description << std::hex << " 0x" << byte;
    }
    // The whole table of code page 932 is the one the other tests read by.
    LeadBytes leadBytes = {};
    MarkLeadBytes(cases[0].ranges, sizeof cases[0].ranges, leadBytes);
    EXPECT_EQ(std::memcmp(leadBytes, CodePage932(), sizeof leadBytes), 0);
}

struct ArgumentCase {
    const char* commandLine;
    bool japanese;
    const char* argument;
};

TEST(ArgumentString, FollowsTheLaunchersName)
{
    const ArgumentCase cases[] = {
        {"\"C:\\T\\QuendRun.exe\" a.txt", false, "a.txt"},
        {"C:\\T\\QuendRun.exe a.txt", false, "a.txt"},
        {"\"C:\\Program Files\\QuendRun.exe\" a.txt", false, "a.txt"},
        {"\"C:\\T\\QuendRun.exe\"a.txt", false, "a.txt"}, // glued: nothing to skip
        {"\"C:\\T\\QuendRun.exe a.txt", false, ""},       // unclosed quote runs to the end
        {"QuendRun.exe\t\x01\x1f a", false, "a"},         // control bytes skipped
        {"Qu\xe9nd\x83\\.exe b", false, "b"},             // bytes above 0x7F are name bytes
        {" a.txt", false, "a.txt"},                       // empty name
        {"\t\x02x y", false, "x y"},
        {"Q.exe \"C:\\My Files\\a.txt\" ", false, "\"C:\\My Files\\a.txt\" "},
        {"Q.exe", false, ""},
        {"Q.exe  \t ", false, ""},
        {"\"\"", false, ""},
        {"", false, ""},
        // A lead byte takes the quote behind it along in code page 932 only.
        {"\"ab\x83\" x\" y", true, "y"},
        {"\"ab\x83\" x\" y", false, "x\" y"},
        {"\"ab\x83", true, ""}, // the end ends the name
        {"\"\x83\x5c\\Q.exe\" z", true, "z"},
    };
    for (const ArgumentCase& c : cases) {
        const LeadBytes& lead = c.japanese ? CodePage932() : CodePage1252();
        EXPECT_STREQ(ArgumentString(c.commandLine, lead), c.argument) << c.commandLine;
    }
}

struct TokenCase {
    const char* commandLine;
    const char* token;
    const char* settingsPath; // null: no settings file is read
};

TEST(ProgramToken, NamesTheSettingsFile)
{
    const TokenCase cases[] = {
        {"C:\\T\\QuendRun.exe a.txt", "C:\\T\\QuendRun.exe", "C:\\T\\QuendRun.ini"},
        {"\"C:\\T\\QuendRun.exe\" a.txt", "C:\\T\\QuendRun.exe", "C:\\T\\QuendRun.ini"},
        {"\"C:\\Program Files\\QuendRun.exe\" a.txt", "C:\\Program", "C:\\Progini"},
        {"\"D:\\My Tools\\QuendRun.exe\" notes", "D:\\My", "D:ini"}, // a drive-relative name
        {"\"C:\\T\\QuendRun.exe\"a.txt b", "C:\\T\\QuendRun.exea.txt", "C:\\T\\QuendRun.exea.ini"},
        {"QuendRun a.txt", "QuendRun", "Quendini"},
        {"Q\tR.exe a", "Q\tR.exe", "Q\tR.ini"}, // only a blank ends it
        {"Qu\x83 x", "Qu\x83", "ini"},          // no regard to lead bytes
        {"ab x", "ab", nullptr},
        {" a.txt", "", nullptr},
        {"\"\" a", "", nullptr},
    };
    for (const TokenCase& c : cases) {
        char token[kTokenCapacity];
        const size_t length = ProgramToken(c.commandLine, token, kTokenCapacity);
        EXPECT_STREQ(token, c.token) << c.commandLine;
        EXPECT_EQ(length, std::string(c.token).size());
        EXPECT_EQ(SettingsPath(token, length), c.settingsPath != nullptr) << c.commandLine;
        if (c.settingsPath != nullptr) {
            EXPECT_STREQ(token, c.settingsPath);
        }
    }
}

TEST(ProgramToken, IsCutAtItsCapacityAndThenReadsNoSettings)
{
    for (size_t length : {kTokenCapacity - 1, kTokenCapacity, 4 * kTokenCapacity}) {
        const std::string commandLine = std::string(length, 'q') + " a";
        char token[kTokenCapacity];
        const size_t got = ProgramToken(commandLine.c_str(), token, kTokenCapacity);
        EXPECT_EQ(got, length);
        EXPECT_EQ(std::string(token), std::string(std::min(length, kTokenCapacity - 1), 'q'));
        EXPECT_EQ(SettingsPath(token, got), length < kTokenCapacity) << length;
    }
}

struct SettingsNameCase {
    const char* commandLine;
    const char* settingsPath;
    bool chosenByCurrentFolder;
};

// Where the profile reader looks for the name: a full path where it says, a
// name without a folder in the Windows folder, anything else from the current
// folder, which the launcher's starter or a document's folder sets.
TEST(IsChosenByCurrentFolder, RefusesANameTheCurrentFolderPicks)
{
    const SettingsNameCase cases[] = {
        {"\"Q:\\My Tools\\QuendRun.exe\" a", "Q:ini", true}, // drive-relative
        {"Q:\\My Tools\\QuendRun.exe a", "Q:ini", true},     // unquoted, the same
        {"Q:QuendRun.exe a", "Q:QuendRun.ini", true},        // not cut, still drive-relative
        {"\"Tools\\Mine X\\Q.exe\" a", "Tools\\Mini", true}, // relative, cut inside quotes
        {"\"\\Program Files\\Q.exe\" a", "\\Progini", true}, // root of the current drive
        {"\"Tools\\Q.exe a", "Tools\\Q.ini", true},          // an unclosed quote cuts too
        {"\"C:\\Program Files\\QuendRun.exe\" a", "C:\\Progini", false}, // full, after a cut
        {"\"C:/Program Files/QuendRun.exe\" a", "C:/Progini", false},
        {"\"\\\\srv\\Mine X\\Q.exe\" a", "\\\\srv\\Mini", false}, // network path
        {"\"Tools X\\QuendRun.exe\" a", "Toini", false},          // no folder: the Windows folder
        {"\"\\My Tools\\Q.exe\" a", "ini", false},
        {"\"..\\My X\\Q.exe\" a", "..ini", false},
        {"Tools\\QuendRun.exe a", "Tools\\QuendRun.ini", false}, // relative, not cut
        {"\"Tools\\QuendRun.exe\" a", "Tools\\QuendRun.ini", false},
        {"\"Tools\\Q.exe\"a b", "Tools\\Q.eini", false}, // glued, cut outside quotes
        {"\"C:\\T\\Q.exe\"a.txt b", "C:\\T\\Q.exea.ini", false},
    };
    for (const SettingsNameCase& c : cases) {
        char token[kTokenCapacity];
        ASSERT_TRUE(SettingsPath(token, ProgramToken(c.commandLine, token, kTokenCapacity)));
        EXPECT_STREQ(token, c.settingsPath) << c.commandLine;
        EXPECT_EQ(IsChosenByCurrentFolder(token, TokenCutInsideQuotes(c.commandLine)),
                  c.chosenByCurrentFolder)
            << c.commandLine;
    }
}

TEST(LauncherPath, IsTheNameInFrontOfTheArgument)
{
    const std::pair<const char*, const char*> cases[] = {
        {"\"Q:\\My Tools\\QuendRun.exe\" a.txt", "Q:\\My Tools\\QuendRun.exe"},
        {"Q:\\My Tools\\QuendRun.exe a.txt", "Q:\\My"}, // the rest is the argument
        {"\"C:\\T\\Q.exe\"a.txt", "C:\\T\\Q.exe"},
        {"Q.exe\t\x01 a", "Q.exe"},
        {" a", ""},
    };
    for (const auto& c : cases) {
        char area[kTokenCapacity];
        LauncherPath(c.first, ArgumentString(c.first, CodePage1252()), area, sizeof area);
        EXPECT_STREQ(area, c.second) << c.first;
    }
    char small[5];
    const char* line = "\"Q:\\My Tools\\QuendRun.exe\" a.txt";
    LauncherPath(line, ArgumentString(line, CodePage1252()), small, sizeof small);
    EXPECT_STREQ(small, "Q:\\M");
}

TEST(AppendText, NeverWritesPastItsArea)
{
    char area[8];
    size_t length = AppendText(area, sizeof area, 0, "abc");
    EXPECT_EQ(length, 3u);
    length = AppendText(area, sizeof area, length, "defg");
    EXPECT_EQ(length, 7u);
    EXPECT_STREQ(area, "abcdefg");
    EXPECT_EQ(AppendText(area, sizeof area, length, ""), 7u);
    EXPECT_EQ(AppendText(area, sizeof area, length, "h"), sizeof area);
    EXPECT_STREQ(area, "abcdefg");
    // Once full, nothing is written: not even a NUL past the area.
    EXPECT_EQ(AppendText(area, sizeof area, sizeof area, ""), sizeof area);
    EXPECT_EQ(AppendText(area, sizeof area, sizeof area, "i"), sizeof area);
    EXPECT_STREQ(area, "abcdefg");
}

TEST(AppendProgramPath, QuotesAPathWithABlankOrTab)
{
    const std::pair<const char*, const char*> cases[] = {
        {"C:\\T\\Quend.exe", "C:\\T\\Quend.exe"},
        {"D:\\My Tools\\Quend.exe", "\"D:\\My Tools\\Quend.exe\""},
        {"D:\\My\tTools\\Quend.exe", "\"D:\\My\tTools\\Quend.exe\""},
        {"", ""},
    };
    for (const auto& c : cases) {
        char area[kCommandLineCapacity];
        EXPECT_EQ(AppendProgramPath(area, kCommandLineCapacity, c.first), strlen(c.second));
        EXPECT_STREQ(area, c.second);
    }
    // The longest path, quoted, leaves room for the rest of the line.
    const std::string path = std::string(kValueCapacity - 2, 'p') + " ";
    char area[kCommandLineCapacity];
    EXPECT_EQ(AppendProgramPath(area, kCommandLineCapacity, path.c_str()), path.size() + 2);
}

TEST(LookupError, MapsTheShellsOwnCodes)
{
    const std::pair<intptr_t, unsigned> cases[] = {
        {26, 32},   // SE_ERR_SHARE: ERROR_SHARING_VIOLATION
        {27, 1155}, // SE_ERR_ASSOCINCOMPLETE: ERROR_NO_ASSOCIATION
        {28, 1156}, // SE_ERR_DDETIMEOUT: ERROR_DDE_FAIL
        {29, 1156}, // SE_ERR_DDEFAIL
        {30, 1156}, // SE_ERR_DDEBUSY
        {31, 1155}, // SE_ERR_NOASSOC: ERROR_NO_ASSOCIATION
        {32, 1157}, // SE_ERR_DLLNOTFOUND: ERROR_DLL_NOT_FOUND
        {0, 8},     // out of memory: ERROR_NOT_ENOUGH_MEMORY
        {2, 2},     // ERROR_FILE_NOT_FOUND, as it is
    };
    for (const auto& c : cases)
        EXPECT_EQ(LookupError(c.first), c.second) << c.first;
}

struct BatchCase {
    const char* path;
    const char* options;
    const char* argument;
    bool japanese;
    bool refused;
};

TEST(IsPlainForBatch, RefusesWhatCmdWouldRun)
{
    const BatchCase cases[] = {
        {"C:\\T\\run.bat", ",,,,", "notes", false, false},
        {"C:\\T\\run.bat", ",,,,", "a&echo INJECTED>inj.txt", false, true},
        {"C:\\T\\RUN.CMD", "", "a|b", false, true},
        {"C:\\T\\run.Bat", "", "a<b", false, true},
        {"C:\\T\\run.cmd", "", "a>b", false, true},
        {"C:\\T\\run.bat", "", "a^b", false, true},
        {"C:\\T\\run.bat", "", "\"a&b|c<d>e^f\"", false, false}, // inside quotes
        {"C:\\T\\run.bat", "", "\"a b\"&c", false, true},        // after the closing quote
        {"C:\\T\\run.bat", "", "\"50%\"", false, true},          // % even in quotes
        {"C:\\T\\run.bat", "", "a\rb", false, true},
        {"C:\\T\\run.bat", "", "\"a\nb\"", false, true},
        {"C:\\T\\run.bat", "/t:\"", "a&b", false, false}, // options opened a quote
        {"C:\\T\\run.bat", "/t:\"x\"", "a&b", false, true},
        // The second bytes of these characters are "|" and "^" in code page 932.
        {"C:\\T\\run.bat", "", "\x83|\x83^", true, false},
        {"C:\\T\\run.bat", "", "\x83|\x83^", false, true},
        {"C:\\T\\run.bat", "/o\x83", "^x", true, false}, // a lead byte carries over
        {"C:\\T\\RUN.BAT", "", "a&b", false, true},      // any case, "A" included
        {"C:\\T\\run.bAT", "", "a&b", false, true},
        {"C:\\T\\run.Cmd", "", "a&b", false, true},
        {".bat", "", "a&b", false, true},
        {"C:\\T\\run.exe", "", "a&b%c", false, false}, // not a batch file
        {"C:\\T\\run.bat.exe", "", "a&b", false, false},
        {"C:\\T\\run.bax", "", "a&b", false, false}, // only begins like one
        {"C:\\T\\run.cmx", "", "a&b", false, false},
        {"C:\\T\\run.ba", "", "a&b", false, false},
        {"bat", "", "a&b", false, false},
        // The platform drops a name's trailing dots and blanks: these name the batch file.
        {"C:\\T\\a.bat.", "", "a&b", false, true},
        {"C:\\T\\a.bat ", "", "a&b", false, true},
        {"C:\\T\\a.BAT . .", "", "a&b", false, true},
        {"C:\\T\\a.cmd..", "", "a&b", false, true},
        {"C:\\T\\a.bat.x", "", "a&b", false, false},
        {"C:\\T\\a.batx.", "", "a&b", false, false},
        {". .", "", "a&b", false, false}, // nothing left before them
        // cmd.exe expands a path's "%" between quotes too; its other bytes are quoted.
        {"C:\\50%\\run.bat", "", "a", false, true},
        {"C:\\a%OS%b\\run.bat", "", "a", false, true},
        {"C:\\a\nb\\run.bat", "", "a", false, true},
        {"C:\\50%\\run.exe", "", "a", false, false},
        {"C:\\R&D (x86)^,;=!\\run.bat", "", "a", false, false},
    };
    for (const BatchCase& c : cases) {
        const LeadBytes& lead = c.japanese ? CodePage932() : CodePage1252();
        const bool refused =
            IsBatchFile(c.path) && !IsPlainForBatch(c.path, c.options, c.argument, lead);
        EXPECT_EQ(refused, c.refused) << c.path << " " << c.options << c.argument;
    }
}

struct BatchLineCase {
    const char* path;
    const char* options;
    const char* argument;
    const char* line;
};

// The line cmd.exe gets: with /s it takes off the first quote and the last,
// and runs the quoted path with the rest behind it.
TEST(BatchCommandLine, QuotesThePathInsideOneOuterPair)
{
    const BatchLineCase cases[] = {
        {"Q:\\R&D\\run.bat", ",,,,", "a.txt",
         "cmd.exe /d /v:off /s /c \"\"Q:\\R&D\\run.bat\" ,,,,a.txt\""},
        {"Q:\\Program Files (x86)\\Tool\\run.bat", ",,,,", "\"Q:\\My Files\\a.txt\"",
         "cmd.exe /d /v:off /s /c \"\"Q:\\Program Files (x86)\\Tool\\run.bat\" ,,,,\"Q:\\My "
         "Files\\a.txt\"\""},
        {"Q:\\a^b,c\\run.cmd", "", "x", "cmd.exe /d /v:off /s /c \"\"Q:\\a^b,c\\run.cmd\" x\""},
        // Second bytes "|" and "\\" of code page 932 characters stay inside the quotes.
        {"Q:\\\x83|\x95\\\\run.bat", "", "x",
         "cmd.exe /d /v:off /s /c \"\"Q:\\\x83|\x95\\\\run.bat\" x\""},
    };
    for (const BatchLineCase& c : cases) {
        char area[kCommandLineCapacity];
        EXPECT_EQ(BatchCommandLine(area, sizeof area, c.path, c.options, c.argument),
                  strlen(c.line));
        EXPECT_STREQ(area, c.line);
    }
    // The longest path, options and argument fit whole.
    const std::string path(kValueCapacity - 1, 'p');
    const std::string options(kValueCapacity - 1, ',');
    const std::string argument(kArgumentCapacity - 1, 'a');
    char area[kCommandLineCapacity];
    EXPECT_EQ(BatchCommandLine(area, sizeof area, path.c_str(), options.c_str(), argument.c_str()),
              kCommandLineCapacity - 1);
}

} // namespace
