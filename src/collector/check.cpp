#include "collector/check.h"

#include <cstdio>

#include "collector/cmdline.h"
#include "collector/startup.h"
#include "control/cursor.h"
#include "control/dictionary.h"
#include "control/evaluation.h"
#include "control/distributor.h"
#include "control/reader.h"
#include "control/source_position.h"
#include "pipeline/percent_cursor.h"
#include "runtime/messages.h"
#include "runtime/settings.h"
#include "support/environment_pass.h"

namespace qvx {

namespace {

struct CheckState {
    std::ostream* out = nullptr;
    int errors = 0;
    int warnings = 0;
};

CheckState& state() {
    static CheckState instance;
    return instance;
}

std::string one_line(const std::string& text) {
    std::string s = text;
    for (char& c : s)
        if (c == '\n' || c == '\t' || c == '\r') c = ' ';
    const size_t end = s.find_last_not_of(' ');
    return end == std::string::npos ? std::string() : s.substr(0, end + 1);
}

std::string id_of(const char* msgid, char letter) {
    if (!msgid || !*msgid || *msgid == ' ') return "-";
    std::string id = *msgid == '.' ? msgid + 1 : msgid;
    for (char& c : id)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return id + letter;
}

std::string current_place() {
    const SourcePosition& at = source_position();
    return (at.file.empty() ? std::string("-") : at.file) + ":" + std::to_string(at.line);
}

// Every message of the readers comes here: errors and warnings become
// findings at the place being read, everything else is dropped.
void take_message(char letter, const char* msgid, const std::string& text) {
    CheckState& st = state();
    const bool error = letter == 'E' || letter == 'S';
    if (!error && letter != 'W') return;
    (error ? st.errors : st.warnings) += 1;
    if (st.out) check_line(*st.out, error ? "ERROR" : "WARNING", id_of(msgid, letter), current_place(), one_line(text));
}

// The file name the search starts from ("qvxcoll.ctl"), the place of a
// finding before the file is found.
std::string file_label(const char* base) { return control_file_levels(db_type_code())[0] + base + ".ctl"; }

struct FileKind {
    ControlFile file;
    const char* base;
    const char* name;
};

constexpr FileKind kFiles[] = {
    {ControlFile::process, "proc", "PROCESS.CTL"},
    {ControlFile::dict, "dict", "DICT.CTL"},
    {ControlFile::collect, "coll", "COLLECT.CTL"},
    {ControlFile::trace, "trac", "TRACE.CTL"},
    {ControlFile::eval, "eval", "evaluation file"},
};

const FileKind& kind_of(ControlFile file) {
    for (const FileKind& k : kFiles)
        if (k.file == file) return k;
    return kFiles[0];
}

std::string plural(size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

// What a file brought in, for its summary line.
std::string contents(ControlFile file) {
    size_t cursors = 0, columns = 0, traced = 0;
    for (const auto& c : cur_anchor) {
        if (c.get() == percent_cursor) continue;
        ++cursors;
        columns += c->cols.size();
        traced += c->trace || c->traced || c->tracem;
    }
    switch (file) {
    case ControlFile::process: return plural(distrib_anchor.size(), "distributor", "distributors");
    case ControlFile::dict: return plural(dict_anchor.size(), "dictionary element", "dictionary elements");
    case ControlFile::collect:
        return plural(cursors, "cursor", "cursors") + ", " + plural(columns, "column", "columns");
    case ControlFile::trace: return plural(traced, "cursor", "cursors") + " traced";
    case ControlFile::eval: return plural(static_cast<size_t>(eval_count()), "evaluation", "evaluations");
    }
    return {};
}

// Reads the control files, printing one summary line per file; the
// number of files that failed. collect_path receives where COLLECT.CTL
// was, found the number of files that were there.
int check_control_files(std::ostream& out, std::string& collect_path, int& found_files) {
    int failed = 0;
    std::string label;
    const auto next = [&](ControlFile file) {
        label = file_label(kind_of(file).base);
        set_source_file(label);
    };
    const auto done = [&](ControlFile file, int rc) {
        const FileKind& k = kind_of(file);
        const std::string path = source_position().file;
        const bool found = path != label;
        if (file == ControlFile::collect) collect_path = path;
        found_files += found;
        if (file == ControlFile::trace && !found) {
            check_line(out, "FILE", "CHK0110I", path, std::string(k.name) + " absent");
        } else if (rc == 0) {
            check_line(out, "FILE", "CHK0100I", path, std::string(k.name) + " ok: " + contents(file));
        } else {
            ++failed;
            check_line(out, "FILE", "CHK0105E", path, std::string(k.name) + " failed: " + contents(file));
        }
        set_source_file({});
        return true;  // read every file, so that one check shows every error
    };
    read_control_files(done, next);
    return failed;
}

// The settings as start-up takes them: the command line in its two
// passes and the environment. 0, or the status of an argument-file error.
int check_settings(int argc, char** argv) {
    set_source_file("settings");
    parse_argv(argc, argv);
    Pass2Result pass2;
    const int status = read_command_line_settings(argc, argv, pass2);
    if (status == 0 && pass2.version) get_envs();  // a check dumps no versions
    set_source_file({});
    return status;
}

} // namespace

void check_line(std::ostream& out, const char* kind, const std::string& id, const std::string& place,
                const std::string& text) {
    out << kind << ' ' << id << ' ' << place << ' ' << text << '\n';
}

int run_check(int argc, char** argv, bool connect, std::ostream& out) {
    CheckState& st = state();
    st = CheckState{};
    st.out = &out;
    // The parsers open the collector's output file when none is open: an
    // open sink keeps it (and a running collector's file) untouched.
    FILE* sink = std::fopen("/dev/null", "w");
    use_message_sink(sink ? sink : std::tmpfile(), false);
    set_message_tap(take_message);

    int files = 0;
    int failed = 0;
    std::string collect_path;
    if (check_settings(argc, argv) != 0) {
        ++failed;
    } else {
        failed += check_control_files(out, collect_path, files);
        if (connect) {
            failed += check_connection(out, collect_path);
            set_message_tap(take_message);
        }
    }
    set_message_tap(nullptr);

    const bool valid = failed == 0 && st.errors == 0;
    const std::string warnings = plural(static_cast<size_t>(st.warnings), "warning", "warnings");
    if (valid)
        check_line(out, "RESULT", "CHK0300I", "-", "valid: " + plural(static_cast<size_t>(files), "file", "files") + ", " + warnings);
    else
        check_line(out, "RESULT", "CHK0305E", "-",
                   "not valid: " + plural(static_cast<size_t>(st.errors), "error", "errors") + ", " +
                       plural(static_cast<size_t>(failed), "failure", "failures") + ", " + warnings);
    out.flush();
    st.out = nullptr;
    return valid ? 0 : 1;
}

void reset_check() {
    set_message_tap(nullptr);
    state() = CheckState{};
}

} // namespace qvx
