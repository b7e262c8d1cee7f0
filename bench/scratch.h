// A temporary collector home for benchmarks: settings point at it and the
// message output goes to a file there (no backups).
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include "runtime/messages.h"
#include "runtime/settings.h"

namespace qvxbench {

struct Scratch {
    std::string dir;
    Scratch() {
        namespace fs = std::filesystem;
        std::string tmpl = (fs::temp_directory_path() / "qvxbench.XXXXXX").string();
        dir = mkdtemp(tmpl.data());
        qvx::reset_settings();
        qvx::reset_messages();
        qvx::env_vars.coll_home = dir;
        qvx::env_vars.coll_out = dir;
        qvx::env_vars.db_type = "qvx";
        qvx::env_vars.hostname = "bench";
        setenv("COLL_NUMOUTBAK", "0", 1);
        qvx::u_openPRINTfile(nullptr);
    }
    ~Scratch() {
        qvx::close_PRINT();
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
    void write(const std::string& name, const std::string& text) const {
        std::ofstream(dir + "/" + name) << text;
    }
};

} // namespace qvxbench
