#include "support/shell.h"

#include "runtime/messages.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

using namespace qvx;

namespace {

TEST(ShellTest, LinesAreTrimmedJoinedAndCounted) {
    reset_messages();
    EXPECT_EQ(u_shell_output("printf 'alpha  \\nbeta\\t\\r\\n\\n   \\n  gamma delta'"),
              "alpha beta   gamma delta");

    const std::string lines = u_shell_output("seq 1 1000");  // 500 lines at most
    EXPECT_EQ(std::count(lines.begin(), lines.end(), ' '), 499);
    EXPECT_EQ(lines.substr(lines.size() - 4), " 500");
}

TEST(ShellTest, EndlessOutputReturnsPromptly) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(u_shell_output("yes").size(), 999u);  // 500 times "y" and the blanks between
    EXPECT_EQ(u_shell_output("yes | tr -d '\\n'"), std::string(4094, 'y'));  // 4094 at most
    EXPECT_EQ(u_shell_output("head -c 20000000 /dev/zero | tr '\\0' 'x'"), std::string(4094, 'x'));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

} // namespace
