// Finding, copying and descrambling the program image, and running it.
#pragma once
#include <string>

class Kestrin;

namespace ProgramImage {

// The resource that holds the scrambled image.
extern const char* const ResourceName;

// Copies the image resource of the process's own module into a private,
// descrambled heap block with one extra NUL behind it. Null when there is none.
char* LoadFromOwnModule(size_t* length);

// Heap copy of a plain image with one extra NUL behind it (freed with free()).
char* CopyPlain(const char* data, size_t length);

// Directory of the process's executable, ending with a backslash.
std::string ProgramDirectory();

// Init and Run on an interpreter that borrows the image; returns Run's result
// (0 when Init failed).
int RunInterpreter(Kestrin& k, char* image);

}
