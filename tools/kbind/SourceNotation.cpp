#include "tools/kbind/SourceNotation.h"

#include "interp/CommandNames.h"

#include <cstring>

namespace {

// Commands bound to the no-op handler that also have a name of their own;
// {EndIf} and {EndType} are accepted and listed for them.
struct Alias {
    int number;
    const char* name;
};
const Alias kAliases[] = {{7, "EndIf"}, {75, "EndType"}};

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualNoCase(const std::string& a, const char* b)
{
    size_t n = std::strlen(b);
    if (a.size() != n) return false;
    for (size_t i = 0; i < n; ++i)
        if (Lower(a[i]) != Lower(b[i])) return false;
    return true;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsAlpha(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }

int HexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool AllDigits(const std::string& s, size_t from)
{
    if (from >= s.size()) return false;
    for (size_t i = from; i < s.size(); ++i)
        if (!IsDigit(s[i])) return false;
    return true;
}

// Decimal value of s[from..], or -1 when it exceeds `limit`.
int DecimalUpTo(const std::string& s, size_t from, int limit)
{
    long v = 0;
    for (size_t i = from; i < s.size(); ++i) {
        v = v * 10 + (s[i] - '0');
        if (v > limit) return -1;
    }
    return static_cast<int>(v);
}

int CommandByNotationName(const std::string& name)
{
    for (const Alias& a : kAliases) {
        if (EqualNoCase(name, a.name)) return a.number;
        std::string prefixed = std::string("Cmd") + a.name;
        if (EqualNoCase(name, prefixed.c_str())) return a.number;
    }
    return CommandNumberByName(name.c_str());
}

// Name under which command n is listed, or nullptr to list it by number.
const char* ListingName(int n)
{
    for (const Alias& a : kAliases)
        if (a.number == n) return a.name;
    const char* h = CommandHandlerName(n);
    if (h == nullptr || CommandNumberByName(h) != n) return nullptr;
    return h + 3;
}

// Converts one source line (without its line end) and appends it to `out`.
// `endsImage` is set when the line ends with {$}.
bool ConvertLine(const std::string& line, std::string& out, bool& endsImage, std::string& error)
{
    endsImage = false;
    size_t i = 0;
    while (i < line.size()) {
        char c = line[i];
        if (c != '{') {
            out += c;
            ++i;
            continue;
        }
        if (i + 1 < line.size() && line[i + 1] == '{') {
            out += '{';
            i += 2;
            continue;
        }
        size_t close = line.find('}', i + 1);
        if (close == std::string::npos) {
            error = "\"{\" without \"}\" (write \"{{\" for a literal \"{\")";
            return false;
        }
        std::string body = line.substr(i + 1, close - i - 1);
        i = close + 1;
        if (body.empty()) {
            error = "empty \"{}\"";
            return false;
        }
        if (body == "$") {
            if (i != line.size()) {
                error = "\"{$}\" must end the line";
                return false;
            }
            endsImage = true;
            return true;
        }
        if (body[0] == '#') {
            if (!AllDigits(body, 1)) {
                error = "malformed constant token {" + body + "}";
                return false;
            }
            int e = DecimalUpTo(body, 1, ConstantEntries - 1);
            if (e < 0) {
                error = "constant entry out of range (0 to 497) in {" + body + "}";
                return false;
            }
            out += ConstantToken(e);
            continue;
        }
        if ((body[0] == 'x' || body[0] == 'X') && body.size() == 3 && HexValue(body[1]) >= 0 &&
            HexValue(body[2]) >= 0) {
            out += static_cast<char>(HexValue(body[1]) * 16 + HexValue(body[2]));
            continue;
        }
        if (body[0] == 'x' || body[0] == 'X') {
            bool hex = body.size() > 1;
            for (size_t k = 1; k < body.size(); ++k)
                if (HexValue(body[k]) < 0) hex = false;
            if (hex) {
                error = "malformed byte {" + body + "} (two hexadecimal digits wanted)";
                return false;
            }
        }
        if (AllDigits(body, 0)) {
            int n = DecimalUpTo(body, 0, MaxTokenCommand);
            if (n < 0) {
                error = "command number out of range (0 to 511) in {" + body + "}";
                return false;
            }
            out += CommandToken(n);
            continue;
        }
        if (IsAlpha(body[0])) {
            bool ident = true;
            for (char b : body)
                if (!IsAlpha(b) && !IsDigit(b)) ident = false;
            if (ident) {
                int n = CommandByNotationName(body);
                if (n < 0) {
                    error = "unknown command name {" + body + "}";
                    return false;
                }
                out += CommandToken(n);
                continue;
            }
        }
        error = "malformed {" + body + "}";
        return false;
    }
    return true;
}

const char kHex[] = "0123456789ABCDEF";

void AppendEscaped(std::string& out, unsigned char b)
{
    out += "{x";
    out += kHex[b >> 4];
    out += kHex[b & 15];
    out += '}';
}

// Lists the image bytes [from, to) of one line.
void ListBytes(const std::string& img, size_t from, size_t to, std::string& out)
{
    size_t i = from;
    while (i < to) {
        unsigned char b = static_cast<unsigned char>(img[i]);
        if (i + 2 < to && (b == 0xFF || b == 0xFE)) {
            unsigned char b1 = static_cast<unsigned char>(img[i + 1]);
            unsigned char b2 = static_cast<unsigned char>(img[i + 2]);
            if (b1 >= 0xE0 && b2 >= 0xE0 && b2 <= 0xEF) {
                int lo = b2 - 0xE0;
                if (b == 0xFF) {
                    int n = (b1 - 0xE0) * 16 + lo;
                    const char* name = ListingName(n);
                    out += '{';
                    out += name != nullptr ? std::string(name) : std::to_string(n);
                    out += '}';
                    i += 3;
                    continue;
                }
                int e = (b1 & 0x1F) * 16 + lo;
                if (e < ConstantEntries) {
                    out += "{#" + std::to_string(e) + "}";
                    i += 3;
                    continue;
                }
            }
        }
        if (b == '{')
            out += "{{";
        else if ((b < 0x20 && b != '\t') || b >= 0x7F)
            AppendEscaped(out, b);
        else
            out += static_cast<char>(b);
        ++i;
    }
}

} // namespace

std::string CommandToken(int n)
{
    std::string t;
    t += static_cast<char>(0xFF);
    t += static_cast<char>(0xE0 + ((n >> 4) & 0x1F));
    t += static_cast<char>(0xE0 + (n & 15));
    return t;
}

std::string ConstantToken(int e)
{
    std::string t;
    t += static_cast<char>(0xFE);
    t += static_cast<char>(0xE0 + ((e >> 4) & 0x1F));
    t += static_cast<char>(0xE0 + (e & 15));
    return t;
}

bool SourceToImage(const std::string& src, std::string& image, std::string& error, int& errorLine)
{
    image.clear();
    error.clear();
    errorLine = 0;
    size_t pos = 0;
    int lineNo = 0;
    while (pos < src.size()) {
        ++lineNo;
        size_t lf = src.find('\n', pos);
        size_t end = lf == std::string::npos ? src.size() : lf;
        size_t next = lf == std::string::npos ? src.size() : lf + 1;
        if (lf != std::string::npos && end > pos && src[end - 1] == '\r') --end;
        bool endsImage = false;
        if (!ConvertLine(src.substr(pos, end - pos), image, endsImage, error)) {
            errorLine = lineNo;
            return false;
        }
        if (endsImage) {
            if (next != src.size()) {
                error = "\"{$}\" must end the last line";
                errorLine = lineNo;
                return false;
            }
            return true;
        }
        image += "\r\n";
        pos = next;
    }
    image += '\0';
    return true;
}

bool SourceToImage(const std::string& src, std::string& image, std::string& error)
{
    int line = 0;
    if (SourceToImage(src, image, error, line)) return true;
    if (line > 0) error = "line " + std::to_string(line) + ": " + error;
    return false;
}

std::string ImageToSource(const std::string& image)
{
    std::string out;
    // A well-formed image is its lines, each ended by CR LF, then one NUL.
    size_t body = image.size();
    bool wellFormed = false;
    if (body >= 1 && image[body - 1] == '\0') {
        if (body == 1 || (body >= 3 && image.compare(body - 3, 2, "\r\n") == 0)) wellFormed = true;
    }
    size_t limit = wellFormed ? body - 1 : body;
    size_t pos = 0;
    for (;;) {
        size_t crlf = image.find("\r\n", pos);
        if (crlf == std::string::npos || crlf + 2 > limit) break;
        ListBytes(image, pos, crlf, out);
        out += '\n';
        pos = crlf + 2;
    }
    if (!wellFormed) {
        ListBytes(image, pos, limit, out);
        out += "{$}";
    }
    return out;
}
