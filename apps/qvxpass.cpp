// qvxpass: the scrambled form of a database password for the collector.
#include <iostream>

#include "support/password_tool.h"

int main(int argc, char** argv) { return qvx::password_tool_main(argc, argv, std::cin, std::cout, std::cerr); }
