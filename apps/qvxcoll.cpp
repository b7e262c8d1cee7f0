// qvxcoll: the collector process.
#include "runtime/lifecycle.h"

int main(int argc, char** argv) { qvx::collector_main(argc, argv); }
