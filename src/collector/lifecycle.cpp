#include "collector/lifecycle.h"

namespace qvx {

int saved_argc = 0;
char** saved_argv = nullptr;

} // namespace qvx
