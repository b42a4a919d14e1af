// Scrambling of the program image stored in the run-time's resource.
#pragma once
#include <cstddef>

namespace ImageScramble {

const int KeyLength = 16;

// Builds the 16-byte key; it is derived at run time and never stored whole.
void BuildKey(unsigned char key[KeyLength]);

// Plain text -> stored form, in place (used by the image writer).
void Scramble(unsigned char* data, size_t length);

// Stored form -> plain text, in place (used at start-up).
void Descramble(unsigned char* data, size_t length);

// Exchanges bits 3 and 4 of a byte; its own inverse.
inline unsigned char SwapBits34(unsigned char b)
{
    return (unsigned char)((b & 0xE7) | ((b & 0x08) << 1) | ((b & 0x10) >> 1));
}

}
