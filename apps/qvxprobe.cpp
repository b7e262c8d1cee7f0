// qvxprobe: sends one request to the collector and prints the reply.
#include "channel/probe.h"

int main(int argc, char** argv) { return qvx::probe_main(argc, argv); }
