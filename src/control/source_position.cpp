#include "control/source_position.h"

namespace qvx {

namespace {

SourcePosition& position() {
    static SourcePosition instance;
    return instance;
}

} // namespace

const SourcePosition& source_position() { return position(); }

void set_source_file(std::string file) {
    position().file = std::move(file);
    position().line = 0;
}

void set_source_line(int line) { position().line = line; }

SourceLineScope::SourceLineScope(int line) : saved_(position().line) { position().line = line; }

SourceLineScope::~SourceLineScope() { position().line = saved_; }

void reset_source_position() { position() = SourcePosition{}; }

} // namespace qvx
