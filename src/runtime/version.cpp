#include "runtime/version.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <unistd.h>

#include "runtime/messages.h"

namespace qvx {

namespace {

// Identification strings embedded in the program file, one per module:
// marker, module name, revision, check-in date and time, developer id,
// compile date and time, build stamp, separated by "|". The version dump
// finds them again in any program file of the suite.
#define QVX_MODULE_ID(name)                                                                  \
    "@(#)QVXID|" name "|" QVX_VERSION "|" QVX_GIT_DATE "|qvx|" __DATE__ " " __TIME__ "|" \
    QVX_BUILD_STAMP "|" QVX_GIT_REV

[[gnu::used]] const char* const kModuleIds[] = {
    QVX_MODULE_ID("qvxrun"),   // run-time: start-up, settings, messages
    QVX_MODULE_ID("qvxpars"),  // control-file reader and parsers
    QVX_MODULE_ID("qvxutil"),  // support routines
};

constexpr const char kMarker[] = "@(#)QVXID|";

// Turns "name|rev|checkin|dev|compiled|stamp|git" into the columns of the
// dump header.
std::string format_id(const std::string& id) {
    std::string fields[7];
    size_t field = 0;
    for (char c : id) {
        if (c == '|') {
            if (++field == 7) break;
        } else {
            fields[field] += c;
        }
    }
    char line[256];
    std::snprintf(line, sizeof line, "%-18s %s %s %s %s %s %s", fields[0].c_str(),
                  fields[1].c_str(), fields[2].c_str(), fields[3].c_str(), fields[4].c_str(),
                  fields[5].c_str(), fields[6].c_str());
    return line;
}

std::string self_path() {
    char buf[4096];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return {};
    return std::string(buf, static_cast<size_t>(n));
}

// All identification strings found in a file.
std::vector<std::string> ids_in_file(const std::string& path, bool& readable) {
    std::vector<std::string> found;
    std::ifstream in(path, std::ios::binary);
    readable = static_cast<bool>(in);
    if (!readable) return found;
    std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t mlen = std::strlen(kMarker);
    for (size_t pos = data.find(kMarker); pos != std::string::npos;
         pos = data.find(kMarker, pos + mlen)) {
        size_t end = pos + mlen;
        while (end < data.size() && data[end] != '\0' && end - pos < 200) ++end;
        found.push_back(data.substr(pos + mlen, end - pos - mlen));
    }
    return found;
}

} // namespace

const char* program_version() { return QVX_VERSION; }
const char* build_stamp() { return QVX_BUILD_STAMP; }

std::vector<std::string> module_id_lines() {
    std::vector<std::string> lines;
    for (const char* id : kModuleIds) lines.push_back(format_id(id + std::strlen(kMarker)));
    return lines;
}

int version_dump(const std::vector<std::string>& files) {
    std::vector<std::string> targets = files;
    if (targets.empty()) {
        std::string self = self_path();
        if (!self.empty()) {
            targets.push_back(self);
            std::string dir = self.substr(0, self.rfind('/') + 1);
            for (const char* other : {"qvxcoll", "qvxprobe"}) {
                std::string path = dir + other;
                if (path != self && access(path.c_str(), R_OK) == 0) targets.push_back(path);
            }
        }
    }
    PRINT('i', "ush9053",
          "program            vv check_in_date_time  devid compile__date_time stamp\n");
    for (const auto& file : targets) {
        PRINT('i', "ush9054", "Dump headers for %s\n", file.c_str());
        bool readable = false;
        auto ids = ids_in_file(file, readable);
        if (!readable)
            PRINT('e', "ush9055", "Cannot read %s\n", file.c_str());
        else if (ids.empty())
            PRINT('i', "ush9055", "No identification strings in %s\n", file.c_str());
        for (const auto& id : ids) PRINT('-', nullptr, "%s\n", format_id(id).c_str());
        PRINT('i', "ush9056", "%s\n", std::string(60, '-').c_str());
    }
    return 0;
}

} // namespace qvx
