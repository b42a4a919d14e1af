#include "tools/kbind/PeResource.h"

#include <cstdint>

namespace {

bool Read16(const std::string& f, size_t at, uint32_t& v)
{
    if (at > f.size() || f.size() - at < 2) return false;
    v = static_cast<unsigned char>(f[at]) | (static_cast<unsigned char>(f[at + 1]) << 8);
    return true;
}

bool Read32(const std::string& f, size_t at, uint32_t& v)
{
    if (at > f.size() || f.size() - at < 4) return false;
    v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(f[at + i]);
    return true;
}

struct Section {
    uint32_t va, vsize, rawSize, rawPtr;
};

struct PeLayout {
    std::vector<Section> sections;
    uint32_t rsrcRva = 0, rsrcSize = 0;
};

bool ParseHeaders(const std::string& f, PeLayout& pe, std::string& error)
{
    uint32_t mz = 0, lfanew = 0, sig = 0;
    if (!Read16(f, 0, mz) || mz != 0x5A4D) {
        error = "not an executable (no MZ header)";
        return false;
    }
    if (!Read32(f, 0x3C, lfanew) || !Read32(f, lfanew, sig) || sig != 0x00004550) {
        error = "not a PE executable (no PE signature)";
        return false;
    }
    size_t fh = static_cast<size_t>(lfanew) + 4;
    uint32_t nsec = 0, optSize = 0, chars = 0, magic = 0;
    if (!Read16(f, fh + 2, nsec) || !Read16(f, fh + 16, optSize) || !Read16(f, fh + 18, chars)) {
        error = "truncated PE header";
        return false;
    }
    if ((chars & 0x0002) == 0) {  // IMAGE_FILE_EXECUTABLE_IMAGE
        error = "PE file is not an executable image";
        return false;
    }
    size_t opt = fh + 20;
    if (!Read16(f, opt, magic) || (magic != 0x10B && magic != 0x20B)) {
        error = "unknown PE optional header";
        return false;
    }
    size_t countAt = opt + (magic == 0x10B ? 92 : 108);
    size_t dirAt = countAt + 4;
    uint32_t ndirs = 0;
    if (!Read32(f, countAt, ndirs)) {
        error = "truncated PE optional header";
        return false;
    }
    if (ndirs > 2) {
        if (!Read32(f, dirAt + 16, pe.rsrcRva) || !Read32(f, dirAt + 20, pe.rsrcSize)) {
            error = "truncated PE data directory";
            return false;
        }
    }
    size_t sec = opt + optSize;
    for (uint32_t i = 0; i < nsec; ++i) {
        Section s{};
        size_t at = sec + 40 * static_cast<size_t>(i);
        if (!Read32(f, at + 8, s.vsize) || !Read32(f, at + 12, s.va) || !Read32(f, at + 16, s.rawSize) ||
            !Read32(f, at + 20, s.rawPtr)) {
            error = "truncated PE section table";
            return false;
        }
        pe.sections.push_back(s);
    }
    return true;
}

bool RvaToOffset(const PeLayout& pe, uint32_t rva, uint32_t size, size_t fileSize, size_t& off)
{
    for (const Section& s : pe.sections) {
        uint32_t extent = s.rawSize;
        if (rva >= s.va && rva - s.va < extent && size <= extent - (rva - s.va)) {
            off = static_cast<size_t>(s.rawPtr) + (rva - s.va);
            return off <= fileSize && fileSize - off >= size;
        }
    }
    return false;
}

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

struct Entry {
    bool named;
    uint32_t id;       // id, or offset of the name string
    bool subdir;
    uint32_t target;   // offset relative to the resource section
};

bool ReadDirectory(const std::string& f, size_t base, uint32_t dir, std::vector<Entry>& out)
{
    uint32_t named = 0, ids = 0;
    if (!Read16(f, base + dir + 12, named) || !Read16(f, base + dir + 14, ids)) return false;
    for (uint32_t i = 0; i < named + ids; ++i) {
        uint32_t a = 0, b = 0;
        size_t at = base + dir + 16 + 8 * static_cast<size_t>(i);
        if (!Read32(f, at, a) || !Read32(f, at + 4, b)) return false;
        out.push_back(Entry{(a & 0x80000000u) != 0, a & 0x7FFFFFFFu, (b & 0x80000000u) != 0, b & 0x7FFFFFFFu});
    }
    return true;
}

bool NameEquals(const std::string& f, size_t base, uint32_t at, const char* name)
{
    uint32_t len = 0;
    if (!Read16(f, base + at, len)) return false;
    size_t i = 0;
    for (; i < len; ++i) {
        uint32_t ch = 0;
        if (!Read16(f, base + at + 2 + 2 * i, ch)) return false;
        if (name[i] == 0 || ch > 0x7F || Upper(static_cast<char>(ch)) != Upper(name[i])) return false;
    }
    return name[i] == 0;
}

} // namespace

bool CheckPeExecutable(const std::string& file, std::string& error)
{
    PeLayout pe;
    return ParseHeaders(file, pe, error);
}

bool FindPeResource(const std::string& f, unsigned type, const char* name, std::vector<PeResourceItem>& items,
                    std::string& error)
{
    items.clear();
    PeLayout pe;
    if (!ParseHeaders(f, pe, error)) return false;
    if (pe.rsrcRva == 0 || pe.rsrcSize == 0) return true;
    size_t base = 0;
    if (!RvaToOffset(pe, pe.rsrcRva, 16, f.size(), base)) {
        error = "resource directory outside the file";
        return false;
    }
    const char* bad = "malformed resource directory";
    std::vector<Entry> types;
    if (!ReadDirectory(f, base, 0, types)) {
        error = bad;
        return false;
    }
    for (const Entry& t : types) {
        if (t.named || t.id != type || !t.subdir) continue;
        std::vector<Entry> names;
        if (!ReadDirectory(f, base, t.target, names)) {
            error = bad;
            return false;
        }
        for (const Entry& n : names) {
            if (!n.named || !n.subdir || !NameEquals(f, base, n.id, name)) continue;
            std::vector<Entry> langs;
            if (!ReadDirectory(f, base, n.target, langs)) {
                error = bad;
                return false;
            }
            for (const Entry& l : langs) {
                uint32_t rva = 0, size = 0;
                size_t off = 0;
                if (l.subdir || !Read32(f, base + l.target, rva) || !Read32(f, base + l.target + 4, size) ||
                    !RvaToOffset(pe, rva, size, f.size(), off)) {
                    error = bad;
                    return false;
                }
                items.push_back(PeResourceItem{l.named ? 0u : l.id, off, size});
            }
        }
    }
    return true;
}
