// Temporary minimal message output; replaced by the full implementation.
#include "runtime/messages.h"

#include <cstdarg>

namespace qvx {

int PRINT(int, const char* msgid, const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    if (msgid) std::fprintf(stdout, "%s ", msgid);
    int n = std::vfprintf(stdout, format, ap);
    va_end(ap);
    return n;
}

int u_msg(const char*, const char*, int, const char*, const char* msgid, const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    if (msgid) std::fprintf(stdout, "%s ", msgid);
    int n = std::vfprintf(stdout, format, ap);
    va_end(ap);
    return n;
}

void init_PRINT() {}
FILE* u_openPRINTfile(const char*) { return nullptr; }
bool print_file_open() { return false; }
const std::string& print_file_path() {
    static std::string none;
    return none;
}
void close_PRINT() {}
std::string u_createTempFileName(const std::string& suffix, char) { return suffix; }
void reset_messages() {}

} // namespace qvx
