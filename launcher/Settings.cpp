// Reads the settings file through the platform's profile reader, one value or
// one key list a call. A missing file, section or key gives the default.
#include "QuendRun.h"

#include <windows.h>
#include <string.h>

unsigned ReadSetting(const char* section, const char* key, const char* fallback, char* value,
                     const char* settingsPath)
{
    // A cleared area keeps a default key list closed by an empty name, which
    // some readers write with one NUL only.
    memset(value, 0, kValueCapacity);
    unsigned count;
    if (settingsPath != nullptr)
        count =
            GetPrivateProfileStringA(section, key, fallback, value, kValueCapacity, settingsPath);
    else
        count = static_cast<unsigned>(AppendText(value, kValueCapacity, 0, fallback));

    // A key list cut at the area's end is not always closed either.
    if (key == nullptr)
        value[kValueCapacity - 2] = value[kValueCapacity - 1] = '\0';
    return count;
}
