#include "db/server_status.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace qvx {

char* servstatus = nullptr;
int servstatus_len = 0;

void forget_server_status() {
    servstatus = nullptr;
    servstatus_len = 0;
}

void set_status(int code) {
    if (!servstatus || servstatus_len <= 0) return;
    const size_t width = static_cast<size_t>(servstatus_len);
    std::memset(servstatus, ' ', width);
    if (code == 0 || code == 100 || code == 1403) return;
    char text[16];
    const int n = std::snprintf(text, sizeof text, "%d", code);
    std::memcpy(servstatus, text, std::min(width, static_cast<size_t>(std::max(n, 0))));
}

} // namespace qvx
