// Classification of database result codes.
#include <cstring>

#include "db/connection.h"
#include "db/fetch.h"
#include "db/server_status.h"
#include "runtime/messages.h"
#include "runtime/trace.h"

namespace qvx {

int check_sql_code(int code, const char* statement, const char* label, bool report) {
    if (servstatus && servstatus_len > 0) std::memset(servstatus, ' ', static_cast<size_t>(servstatus_len));
    if (debug_on(6)) PRINT('t', "oru0006", "SQLCODE for %s = %d\n", label, code);
    if (code == 0 || code == kDbNotLoggedOn) return 0;
    if (code == 100 || code == 1403) return 100;
    PRINT('i', "oru0006", "SQLCODE for %s = %d\n", label, code);
    if (report) {
        set_status(code);
        PRINT('t', "oru0007", "Stmt = %s\n", statement ? statement : "");
    }
    const Connection* c = current_connection();
    PRINT('w', "oru0008", "ORACLE Message %.70s for %s\n", c ? c->short_message().c_str() : "",
          label);
    return code;
}

} // namespace qvx
