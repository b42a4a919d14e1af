#include "startup/ImageScramble.h"

namespace ImageScramble {

void BuildKey(unsigned char key[KeyLength])
{
    // A small generator seeded from two halves; the key bytes exist only here.
    unsigned int state = 0x6B3Au;
    state = (state << 16) | 0x91C5u;
    for (int i = 0; i < KeyLength; ++i) {
        state = state * 1103515245u + 12345u + (unsigned int)i * 0x9E37u;
        key[i] = (unsigned char)((state >> 16) ^ (state >> 7));
    }
}

void Scramble(unsigned char* data, size_t length)
{
    unsigned char key[KeyLength];
    BuildKey(key);
    for (size_t i = 0; i < length; ++i) {
        unsigned char t = (unsigned char)(data[i] ^ key[i % KeyLength]);
        data[i] = SwapBits34((unsigned char)~t);
    }
}

void Descramble(unsigned char* data, size_t length)
{
    unsigned char key[KeyLength];
    BuildKey(key);
    for (size_t i = 0; i < length; ++i) {
        unsigned char t = (unsigned char)~SwapBits34(data[i]);
        data[i] = (unsigned char)(t ^ key[i % KeyLength]);
    }
}

}
