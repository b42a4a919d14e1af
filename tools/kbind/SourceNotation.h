// Conversion between source notation (.kbs) and the plain program image.
#pragma once
#include <string>

// Source notation: each LF-separated line (a CR before the LF belongs to the line
// end) becomes one image line ended by CR LF; the image ends with one NUL byte.
// Inside a line:
//   {Name}  command token of the command whose handler is CmdName (prefix optional,
//           case-insensitive; the lower number where two share a handler)
//   {n}     command token of command n, 0..511
//   {#n}    constant token of constant table entry n, 0..497
//   {xHH}   the raw byte HH (hexadecimal)
//   {{      a literal "{"
//   {$}     ends the image right here: no CR LF and no NUL are added; only at the
//           end of the last line (used for images that do not end with CR LF NUL)
// Everything else is copied byte for byte.

// Source -> plain image. On failure returns false, leaves `image` unspecified and
// sets `error` to "line N: message".
bool SourceToImage(const std::string& src, std::string& image, std::string& error);

// As above; `error` holds the message without the line, `errorLine` the 1-based
// line (0 when the error concerns no line).
bool SourceToImage(const std::string& src, std::string& image, std::string& error, int& errorLine);

// Plain image -> source notation, lines ended by LF. Every image is listed
// losslessly: SourceToImage(ImageToSource(img)) == img for any byte string.
std::string ImageToSource(const std::string& image);

// Token bytes.
std::string CommandToken(int n);   // n in 0..511
std::string ConstantToken(int e);  // e in 0..497

const int MaxTokenCommand = 511;
const int ConstantEntries = 498;
