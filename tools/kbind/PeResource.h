// Reading PE executables from their file bytes: header check and resource lookup.
// Works for 32-bit and 64-bit images alike.
#pragma once
#include <string>
#include <vector>

struct PeResourceItem {
    unsigned language;
    size_t offset;  // file offset of the data
    size_t size;
};

// True when `file` is a PE executable image (MZ header, PE signature, known
// optional header). Otherwise false with a reason in `error`.
bool CheckPeExecutable(const std::string& file, std::string& error);

// Collects every language of resource (type id `type`, name `name`, compared
// case-insensitively). Returns false with `error` set when the resource data is
// malformed; an executable without the resource yields true and no items.
bool FindPeResource(const std::string& file, unsigned type, const char* name,
                    std::vector<PeResourceItem>& items, std::string& error);
