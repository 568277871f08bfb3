#include "http/CharsetConversion.h"

#include <windows.h>

#include <string_view>

#include "text/Ascii.h"
#include "text/win32/WideText.h"

namespace quelvar {

namespace {

// The little- and big-endian UTF-16 forms, which MultiByteToWideChar does not convert.
constexpr unsigned kUtf16Le = 1200;
constexpr unsigned kUtf16Be = 1201;

struct NamedCodePage {
    std::string_view name;
    unsigned codePage;
};

// The charset names replies use (IANA names and their common aliases, in lower case) and the
// Windows code page of each.
constexpr NamedCodePage kCodePages[] = {
    {"utf-8", CP_UTF8},     {"utf8", CP_UTF8},       {"unicode-1-1-utf-8", CP_UTF8},
    {"us-ascii", 20127},    {"ascii", 20127},        {"ansi_x3.4-1968", 20127},
    {"iso646-us", 20127},   {"iso-8859-1", 28591},   {"iso8859-1", 28591},
    {"iso_8859-1", 28591},  {"latin1", 28591},       {"latin-1", 28591},
    {"l1", 28591},          {"cp819", 28591},        {"iso-8859-2", 28592},
    {"latin2", 28592},      {"iso-8859-3", 28593},   {"iso-8859-4", 28594},
    {"iso-8859-5", 28595},  {"iso-8859-6", 28596},   {"iso-8859-7", 28597},
    {"iso-8859-8", 28598},  {"iso-8859-9", 28599},   {"latin5", 28599},
    {"iso-8859-13", 28603}, {"iso-8859-15", 28605},  {"latin-9", 28605},
    {"windows-1250", 1250}, {"windows-1251", 1251},  {"windows-1252", 1252},
    {"windows-1253", 1253}, {"windows-1254", 1254},  {"windows-1255", 1255},
    {"windows-1256", 1256}, {"windows-1257", 1257},  {"windows-1258", 1258},
    {"cp1250", 1250},       {"cp1251", 1251},        {"cp1252", 1252},
    {"cp1253", 1253},       {"cp1254", 1254},        {"cp1255", 1255},
    {"cp1256", 1256},       {"cp1257", 1257},        {"cp1258", 1258},
    {"ibm437", 437},        {"cp437", 437},          {"ibm850", 850},
    {"cp850", 850},         {"ibm866", 866},         {"cp866", 866},
    {"koi8-r", 20866},      {"koi8-u", 21866},       {"shift_jis", 932},
    {"shift-jis", 932},     {"sjis", 932},           {"windows-31j", 932},
    {"euc-jp", 20932},      {"iso-2022-jp", 50220},  {"gb2312", 936},
    {"gbk", 936},           {"gb18030", 54936},      {"big5", 950},
    {"euc-kr", 949},        {"ks_c_5601-1987", 949}, {"windows-874", 874},
    {"tis-620", 874},       {"utf-16le", kUtf16Le},  {"utf-16", kUtf16Le},
    {"utf-16be", kUtf16Be},
};

std::optional<unsigned> codePageOf(const std::string& charset) {
    const std::string name = toLower(charset);
    for (const NamedCodePage& entry : kCodePages) {
        if (entry.name == name) {
            return entry.codePage;
        }
    }
    return std::nullopt;
}

// Reads UTF-16 bytes; a lone surrogate and an odd final byte become U+FFFD.
std::string utf16ToUtf8(std::string_view bytes, bool bigEndian) {
    std::wstring wide;
    wide.reserve(bytes.size() / 2);
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const auto first = static_cast<unsigned char>(bytes[i]);
        const auto second = static_cast<unsigned char>(bytes[i + 1]);
        wide += static_cast<wchar_t>(bigEndian ? (first << 8) | second : (second << 8) | first);
    }
    // A byte order mark is no part of the text.
    if (!wide.empty() && wide.front() == 0xFEFF) {
        wide.erase(0, 1);
    }
    for (std::size_t i = 0; i < wide.size(); ++i) {
        const bool high = wide[i] >= 0xD800 && wide[i] <= 0xDBFF;
        const bool low = wide[i] >= 0xDC00 && wide[i] <= 0xDFFF;
        if (high && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 && wide[i + 1] <= 0xDFFF) {
            ++i;
        } else if (high || low) {
            wide[i] = 0xFFFD;
        }
    }
    if (bytes.size() % 2 != 0) {
        wide += static_cast<wchar_t>(0xFFFD);
    }
    return fromWide(wide);
}

}  // namespace

std::optional<std::string> convertToUtf8(std::string_view bytes, const std::string& charset) {
    const std::optional<unsigned> codePage = codePageOf(charset);
    if (!codePage) {
        return std::nullopt;
    }
    if (*codePage == kUtf16Le || *codePage == kUtf16Be) {
        return utf16ToUtf8(bytes, *codePage == kUtf16Be);
    }
    if (bytes.empty()) {
        return std::string();
    }
    // Without MB_ERR_INVALID_CHARS every byte that cannot be read becomes U+FFFD (or the code
    // page's own stand-in) and conversion goes on after it.
    const int size = static_cast<int>(bytes.size());
    const int length = MultiByteToWideChar(*codePage, 0, bytes.data(), size, nullptr, 0);
    if (length <= 0) {
        // The code page is not installed on this system.
        return std::nullopt;
    }
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(*codePage, 0, bytes.data(), size, wide.data(), length);
    return fromWide(wide);
}

std::string toAnsiCodePage(std::string_view utf8) {
    const std::wstring wide = toWide(utf8);
    if (wide.empty()) {
        return {};
    }
    const int size = static_cast<int>(wide.size());
    const int length =
        WideCharToMultiByte(CP_ACP, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.data(), size, text.data(), length, nullptr, nullptr);
    return text;
}

}  // namespace quelvar
