// Fuzz target: whole raw command lines, taken apart as the entry function does.
//
// Each input is one command line (its bytes up to the first NUL). In code pages
// 1252 and 932 it checks that the argument string is a suffix of the line that
// the launcher's name rule leads to, that the program token and the settings
// path stay inside their 1024 bytes and say what was cut, that the command line
// built from the longest path, options and argument copy never cuts the
// argument, that a batch file's argument is refused exactly when cmd.exe
// would read part of it as more than text, that the line cmd.exe is given for
// a batch file in any folder runs that file and nothing else, and that dots and blanks behind a
// name leave it a batch file or not. Every area is allocated to its exact
// capacity, so that a write or read past it is caught by AddressSanitizer.
#include "CodePages.h"

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <string>

namespace {

void Check(bool holds, const char* what, const std::string& commandLine)
{
    if (holds)
        return;
    fprintf(stderr, "property broken: %s\ncommand line (%zu bytes):", what, commandLine.size());
    for (char byte : commandLine)
        fprintf(stderr, " %02x", static_cast<unsigned char>(byte));
    fputc('\n', stderr);
    abort();
}

// Where the argument string must start: behind the launcher's name, quoted or
// not, and the bytes 0x01 to 0x20 that follow it.
size_t ExpectedArgumentStart(const std::string& line, const LeadBytes& leadBytes)
{
    size_t at = 0;
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(line[i]); };
    if (!line.empty() && line[0] == '"') {
        at = 1;
        while (at < line.size() && line[at] != '"')
            at += leadBytes[byte(at)] && at + 1 < line.size() ? 2 : 1;
        if (at < line.size())
            ++at; // the closing quote belongs to the name
    } else {
        while (at < line.size() && byte(at) > ' ')
            ++at;
    }
    while (at < line.size() && byte(at) <= ' ')
        ++at;
    return at;
}

void CheckArgumentString(const std::string& line, const char* text, const LeadBytes& leadBytes)
{
    const char* argument = ArgumentString(text, leadBytes);
    Check(argument >= text && argument <= text + line.size(), "argument string lies in the line",
          line);
    const size_t start = static_cast<size_t>(argument - text);
    Check(start == ExpectedArgumentStart(line, leadBytes), "argument string starts behind the name",
          line);
    Check(*argument == '\0' || static_cast<unsigned char>(*argument) > ' ',
          "argument string starts on a byte above 0x20", line);

    // The argument copy of 1024 bytes holds the string whole, or says it can't.
    std::unique_ptr<char[]> copy(new char[kArgumentCapacity]);
    const size_t argumentLength = line.size() - start;
    const size_t copied = AppendText(copy.get(), kArgumentCapacity, 0, argument);
    if (argumentLength < kArgumentCapacity) {
        Check(copied == argumentLength && memcmp(copy.get(), argument, argumentLength + 1) == 0,
              "an argument under 1024 bytes is copied whole", line);
    } else {
        Check(copied == kArgumentCapacity, "an argument of 1024 bytes or more is refused", line);
        Check(copy[kArgumentCapacity - 1] == '\0', "a refused copy stays NUL-terminated", line);
    }
    if (copied >= kArgumentCapacity)
        return;

    // The command line has room for the longest resolved path, quoted for its
    // blank, and options with any argument copy: nothing may be cut.
    const std::string path = std::string(kValueCapacity - 2, 'p') + " ";
    const std::string options(kValueCapacity - 1, ',');
    std::unique_ptr<char[]> programLine(new char[kCommandLineCapacity]);
    size_t length = AppendProgramPath(programLine.get(), kCommandLineCapacity, path.c_str());
    length = AppendText(programLine.get(), kCommandLineCapacity, length, " ");
    length = AppendText(programLine.get(), kCommandLineCapacity, length, options.c_str());
    length = AppendText(programLine.get(), kCommandLineCapacity, length, copy.get());
    const std::string expected = "\"" + path + "\" " + options + copy.get();
    Check(length == expected.size() && expected == programLine.get(),
          "the command line holds path, blank, options and argument whole", line);
}

// What cmd.exe would take for more than text in the argument behind the
// options, read as one line: the argument's own bytes that are not second
// bytes of a character, with the quote state the line has reached there.
bool ExpectedPlainForBatch(const std::string& options, const std::string& argument,
                           const LeadBytes& leadBytes)
{
    const std::string line = options + argument;
    bool quoted = false;
    for (size_t at = 0; at < line.size(); ++at) {
        const unsigned char byte = static_cast<unsigned char>(line[at]);
        if (leadBytes[byte]) {
            ++at;
            continue;
        }
        if (byte == '"')
            quoted = !quoted;
        if (at < options.size())
            continue;
        if (strchr("%\r\n", byte) != nullptr || (!quoted && strchr("&|<>^", byte) != nullptr))
            return false;
    }
    return true;
}

const char* const kBatchOptions[] = {"", ",,,,", "/t:\"", "/o\x83"};

void CheckBatchArgument(const std::string& line, const char* text, const LeadBytes& leadBytes)
{
    for (const char* options : kBatchOptions) {
        Check(IsPlainForBatch("C:\\T\\run.bat", options, text, leadBytes) ==
                  ExpectedPlainForBatch(options, line, leadBytes),
              "a batch file's argument is refused exactly when cmd.exe would run part of it", line);
    }
}

// What cmd.exe /d /v:off /s /c runs of the line it is started with, as Windows
// reads it (cmd /?): with /s the first quote behind /c and the last one on the
// line are taken off; the rest is one command as long as no "&", "|", "<",
// ">" or "^" stands outside quotes and no "%", CR or LF anywhere, and its
// program is the quoted first word. False when it would run more than that.
bool CmdRuns(const std::string& line, const LeadBytes& leadBytes, std::string& program,
             std::string& rest)
{
    const size_t switches = line.find(" /c ");
    if (line.compare(0, switches, "cmd.exe /d /v:off /s") != 0)
        return false;
    std::string command = line.substr(switches + 4);
    if (command.empty() || command[0] != '"')
        return false;
    command.erase(0, 1);
    command.erase(command.rfind('"'), 1);

    bool quoted = false;
    size_t programEnd = std::string::npos;
    for (size_t at = 0; at < command.size(); ++at) {
        const unsigned char byte = static_cast<unsigned char>(command[at]);
        if (leadBytes[byte]) {
            ++at;
            continue;
        }
        if (byte == '"') {
            quoted = !quoted;
            if (at > 0 && programEnd == std::string::npos)
                programEnd = at;
        } else if (strchr("%\r\n", byte) != nullptr ||
                   (!quoted && strchr("&|<>^", byte) != nullptr)) {
            return false;
        }
    }
    if (command[0] != '"' || programEnd == std::string::npos)
        return false;
    program = command.substr(1, programEnd - 1);
    rest = command.substr(programEnd + 1);
    return true;
}

// A batch file's path with any of cmd.exe's special bytes, as a folder name
// may hold them (never a double quote), given the line as its argument: the
// line cmd.exe is given runs that batch file with the options and the
// argument, and nothing else; or the launcher refuses to start it.
void CheckBatchLine(const std::string& line, const char* text, const LeadBytes& leadBytes)
{
    std::string folder;
    for (char byte : line.substr(0, kValueCapacity - 20))
        if (byte != '"')
            folder += byte;
    const std::string path = "Q:\\" + folder + "\\run.bat";
    if (line.size() >= kArgumentCapacity)
        return;
    for (const char* options : kBatchOptions) {
        const bool plain = IsPlainForBatch(path.c_str(), options, text, leadBytes);
        Check(plain == (path.find_first_of("%\r\n") == std::string::npos &&
                        ExpectedPlainForBatch(options, line, leadBytes)),
              "a batch file is refused exactly when its path holds %, CR or LF or its argument is "
              "not plain",
              line);
        if (!plain)
            continue;
        std::unique_ptr<char[]> area(new char[kCommandLineCapacity]);
        const size_t length =
            BatchCommandLine(area.get(), kCommandLineCapacity, path.c_str(), options, text);
        Check(length < kCommandLineCapacity, "the batch line is never cut", line);
        std::string program, rest;
        Check(CmdRuns(area.get(), leadBytes, program, rest),
              "cmd.exe runs the batch line as one command", line);
        Check(program == path && rest == std::string(" ") + options + line,
              "cmd.exe runs the batch file with the options and the argument, nothing else", line);
    }
}

// The platform drops a name's trailing dots and blanks.
void CheckBatchName(const std::string& line, const char* text)
{
    const std::string padded = line + ". .";
    Check(IsBatchFile(padded.c_str()) == IsBatchFile(text),
          "dots and blanks behind a name leave it a batch file or not", line);
}

void CheckProgramToken(const std::string& line, const char* text, size_t capacity)
{
    // The token: the bytes up to the first blank, less the double quotes.
    std::string expected;
    for (size_t at = 0; at < line.size() && line[at] != ' '; ++at)
        if (line[at] != '"')
            expected += line[at];

    std::unique_ptr<char[]> token(new char[capacity]);
    const size_t length = ProgramToken(text, token.get(), capacity);
    Check(length == expected.size(), "the token's whole length is returned", line);
    const size_t kept = length < capacity ? length : capacity - 1;
    Check(memcmp(token.get(), expected.data(), kept) == 0 && token[kept] == '\0',
          "the token is the line's first word, cut to its area", line);

    if (capacity != kTokenCapacity)
        return;
    const bool read = SettingsPath(token.get(), length);
    Check(read == (length >= 3 && length < kTokenCapacity),
          "a settings path exactly for tokens of 3 to 1023 bytes", line);
    if (read) {
        std::string path = expected.substr(0, length - 3) + "ini";
        Check(path == token.get(), "the settings path ends in ini in place of the token's end",
              line);
    } else {
        Check(memcmp(token.get(), expected.data(), kept) == 0 && token[kept] == '\0',
              "a token without a settings path is left as it was", line);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The platform hands the launcher a NUL-terminated line: it ends at the
    // first NUL of the input.
    const std::string line(reinterpret_cast<const char*>(data),
                           strnlen(reinterpret_cast<const char*>(data), size));
    std::unique_ptr<char[]> text(new char[line.size() + 1]);
    memcpy(text.get(), line.c_str(), line.size() + 1);

    CheckArgumentString(line, text.get(), CodePage1252());
    CheckArgumentString(line, text.get(), CodePage932());
    CheckBatchArgument(line, text.get(), CodePage1252());
    CheckBatchArgument(line, text.get(), CodePage932());
    CheckBatchLine(line, text.get(), CodePage1252());
    CheckBatchLine(line, text.get(), CodePage932());
    CheckBatchName(line, text.get());
    CheckProgramToken(line, text.get(), kTokenCapacity);
    // Small areas reach the cut on short inputs too.
    CheckProgramToken(line, text.get(), 1 + (line.size() % 8));
    Check(line == text.get(), "the raw command line is only read", line);
    return 0;
}
