// Lead-byte tables of the code pages the tests run in.
#pragma once

#include "QuendRun.h"


// Western European: no lead bytes, every byte is a character.
inline const LeadBytes& CodePage1252()
{
    static const LeadBytes none = {};
    return none;
}

// Japanese: lead bytes 0x81-0x9F and 0xE0-0xFC.
inline const LeadBytes& CodePage932()
{
    static LeadBytes table = {};
    for (unsigned byte = 0x81; byte <= 0xFC; ++byte)
        table[byte] = byte <= 0x9F || byte >= 0xE0;
    return table;
}
