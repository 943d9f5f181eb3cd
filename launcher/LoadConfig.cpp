// The image's load configuration, for one field: the DLLs that the static
// imports load in turn are taken from System32 alone (DependentLoadFlags,
// what MSVC's /DEPENDENTLOADFLAG:0x800 writes; Windows 10 version 1607 on).
// Without it Windows looks for such a DLL, unless it is a known DLL, in the
// launcher's own folder first, and runs it before WinMain can restrict the
// search.
//
// Laid out up to SEHandlerCount, with no SafeSEH table: the image is NO_SEH.
// The image's directory of it is filled in after the link
// (cmake/set_load_config.py): in a 32-bit image it is 64 bytes long, as
// Microsoft's PE format page asks "for compatibility with Windows XP and
// earlier versions of Windows", and as MSVC writes it beside a longer
// structure; 64 bytes still hold DependentLoadFlags (offset 54). No public
// record was found of what Windows 7's loader asks of that size. In a 64-bit
// image it is the structure's own size.
#include <windows.h>

namespace {

constexpr IMAGE_LOAD_CONFIG_DIRECTORY LoadConfig()
{
    IMAGE_LOAD_CONFIG_DIRECTORY config = {};
    config.Size = sizeof config;
    config.Reserved1 = LOAD_LIBRARY_SEARCH_SYSTEM32; // DependentLoadFlags, in mingw-w64 10's name
    return config;
}

} // namespace

// Referenced by nothing: the link keeps it by name (cmake/product-flags.cmake).
extern "C" const IMAGE_LOAD_CONFIG_DIRECTORY _load_config_used __attribute__((aligned(4))) =
    LoadConfig();
