#include "db/utf8.h"

#include <iconv.h>
#include <langinfo.h>
#include <locale.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>

#include "runtime/messages.h"
#include "runtime/trace.h"

namespace qvx {
namespace {

constexpr int kTraceCut = 4000;
constexpr int kStopAtBadChar = 256;

struct LocaleInfo {
    bool read = false;
    bool have_locale = false;
    std::string codepage;
    bool utf8 = false;
};

LocaleInfo& locale_info() {
    static LocaleInfo info;
    if (!info.read) {
        info = LocaleInfo{};
        info.read = true;
        locale_t loc = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(nullptr));
        if (!loc) loc = newlocale(LC_CTYPE_MASK, "C", static_cast<locale_t>(nullptr));
        if (loc) {
            info.have_locale = true;
            const char* cs = nl_langinfo_l(CODESET, loc);
            info.codepage = cs ? cs : "";
            freelocale(loc);
        }
        std::string up = info.codepage;
        for (char& c : up) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        info.utf8 = up == "UTF-8" || up == "UTF8" || up == "ANSI_X3.4-1968" || up == "ASCII" ||
                    up == "US-ASCII";
    }
    return info;
}

// Open conversion descriptors, kept for the life of the process.
struct IconvClose {
    void operator()(void* cd) const { iconv_close(static_cast<iconv_t>(cd)); }
};
using IconvHandle = std::unique_ptr<void, IconvClose>;

iconv_t converter(const char* from, const char* to) {
    static std::map<std::pair<std::string, std::string>, IconvHandle> open;
    auto key = std::make_pair(std::string(from), std::string(to));
    auto it = open.find(key);
    if (it == open.end()) {
        iconv_t cd = iconv_open(to, from);
        if (cd == reinterpret_cast<iconv_t>(-1)) return cd;
        it = open.emplace(key, IconvHandle(cd)).first;
    }
    iconv(static_cast<iconv_t>(it->second.get()), nullptr, nullptr, nullptr, nullptr);
    return static_cast<iconv_t>(it->second.get());
}

void trace_parms(const char* id_len, const char* id_src, const char* id_srctext, int dst_len,
                 const char* src, int src_len) {
    PRINT('t', id_len, "TRC1:Parm - reslen:<%d> \n", dst_len);
    PRINT('t', id_src, "TRC1:Parm - srclen:<%d> \n", src_len);
    PRINT('t', id_srctext, "TRC1:Source<%.*s>\n", std::min(src_len, kTraceCut), src);
}

} // namespace

const std::string& getCodepageInfo() { return locale_info().codepage; }
bool codepage_is_utf8() { return locale_info().utf8; }
void reset_codepage() { locale_info().read = false; }

int convert_codepage(const char* from, const char* to, char* dst, int dst_len, const char* src,
                     int src_len, int options) {
    if (!dst || dst_len <= 0 || !src || src_len < 0) return 0;
    iconv_t cd = converter(from, to);
    if (cd == reinterpret_cast<iconv_t>(-1)) return 0;
    char* in = const_cast<char*>(src);
    size_t in_left = static_cast<size_t>(src_len);
    char* out = dst;
    size_t out_left = static_cast<size_t>(dst_len);
    size_t r = iconv(cd, &in, &in_left, &out, &out_left);
    if (r == static_cast<size_t>(-1) && !(options & kStopAtBadChar)) return 0;
    return static_cast<int>(out - dst);
}

int utf8_prefix(const char* text, int len, int max_chars) {
    int pos = 0;
    for (int chars = 0; pos < len && chars < max_chars; ++chars) {
        unsigned char c = static_cast<unsigned char>(text[pos]);
        int n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 1;
        if (pos + n > len) break;
        pos += n;
    }
    return pos;
}

// The locale and its code page are there; otherwise traces why not.
static bool locale_usable(const LocaleInfo& info, const char* no_locale_id, const char* no_codepage_id) {
    if (!info.have_locale) {
        if (trace_all) PRINT('t', no_locale_id, "TRC1:Locale returned null; no locale found.\n");
        return false;
    }
    if (info.codepage.empty()) {
        if (trace_all) PRINT('t', no_codepage_id, "TRC1:Codepage return was 0; Not a valid Codepage\n");
        return false;
    }
    return true;
}

int Convert_toUTF8_wopt(char* dst, int dst_len, const char* src, int src_len, int options) {
    LocaleInfo& info = locale_info();
    if (trace_all) trace_parms("utf0010", "utf0011", "utf0012", dst_len, src, src_len);
    if (!locale_usable(info, "utf0014", "utf0013")) return 0;
    int n;
    if (info.utf8) {
        n = std::min(src_len, dst_len);
        if (n > 0 && dst != src) std::memmove(dst, src, static_cast<size_t>(n));
    } else {
        n = convert_codepage(info.codepage.c_str(), "UTF-8", dst, dst_len, src, src_len, options);
    }
    if (trace_all) {
        PRINT('t', "utf0016", "TRC1:Bytes converted: <%d>\n", n);
        PRINT('t', "utf0017", "TRC1:UTF-8 string:\n");
        PRINT('t', "utf0018", "TRC1:Result<%.*s>\n", std::min(std::max(n, 0), kTraceCut), dst);
    }
    return std::max(n, 0);
}

int Convert_fromUTF8(char* dst, int dst_len, const char* src, int src_len) {
    LocaleInfo& info = locale_info();
    if (trace_all) trace_parms("utf0020", "utf0021", "utf0022", dst_len, src, src_len);
    if (!locale_usable(info, "utf0024", "utf0023")) return 0;
    int n;
    if (info.utf8) {
        n = std::min(src_len, dst_len);
        if (n > 0 && dst != src) std::memmove(dst, src, static_cast<size_t>(n));
    } else {
        n = convert_codepage("UTF-8", info.codepage.c_str(), dst, dst_len, src, src_len, 0);
    }
    if (trace_all) {
        PRINT('t', "utf0026", "TRC1:Bytes converted: <%d>\n", n);
        PRINT('t', "utf0027", "TRC1:Code page string:\n");
        PRINT('t', "utf0028", "TRC1:Result<%.*s>\n", std::min(std::max(n, 0), kTraceCut), dst);
    }
    return std::max(n, 0);
}

int Convert_UnicodeToUTF8_wopt(char* dst, int dst_len, const char* src, int src_len, int options) {
    if (trace_all) trace_parms("utf0030", "utf0031", "utf0032", dst_len, src, src_len);
    int n = convert_codepage("UTF-16LE", "UTF-8", dst, dst_len, src, src_len, options);
    if (trace_all) {
        PRINT('t', "utf0036", "TRC1:Bytes converted: <%d>\n", n);
        PRINT('t', "utf0037", "TRC1:Result<%.*s>\n", std::min(n, kTraceCut), dst);
    }
    return n;
}

} // namespace qvx
