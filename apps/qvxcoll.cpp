// qvxcoll: the collector process.
#include "collector/lifecycle.h"

int main(int argc, char** argv) { qvx::collector_main(argc, argv); }
