#include "support/password.h"

#include "runtime/settings.h"
#include "support/state.h"

#include <gtest/gtest.h>

#include <cctype>
#include <optional>
#include <string>
#include <utility>

using namespace qvx;

namespace {

class PasswordTest : public ::testing::Test {
protected:
    void SetUp() override {
        qvxtest::reset_collector_state();
        env_vars.logonid = "monitoruser";
        env_vars.serverid = "PRODDB01";
    }
};

// Scrambled in the current form; checks the shape of the result.
std::string current(const std::string& password, const std::string& key) {
    const std::string scrambled = n_Encrypt(password, key).value_or("");
    EXPECT_EQ(scrambled.size(), 88u) << password;
    EXPECT_EQ(scrambled.find_first_not_of("0123456789ABCDEF"), std::string::npos) << scrambled;
    return scrambled;
}

std::string lowered(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

TEST_F(PasswordTest, PlainFormsNoneAndErrors) {
    const std::pair<std::string, std::optional<std::string>> cases[] = {
        {"secret", "secret"}, {"*secret", "secret"}, {"#secret", "secret"}, {"!secret", "secret"},
        {"-secret", "secret"}, {"=secret", "secret"},
        {"**x", "*x"},         // only the first marker goes
        {"*0123", "0123"},     // a marker keeps digits plain
        {"abcdef", "abcdef"},  // lower-case digits are not hexadecimal
        {"NONE", std::nullopt}, {"*NONE", std::nullopt}, {"=NONE", std::nullopt}, {"none", "none"},
        {"", "Error Null password"},
        {std::string(87, 'A'), "Error incorrect password length"},
        {"1234", "Error incorrect password length"},
        {std::string(150, 'p'), std::string(99, 'p')},
        {"*" + std::string(63, 'q'), std::string(63, 'q')},  // 64 long: the old path
    };
    for (const auto& [written, plain] : cases) EXPECT_EQ(fok(written.c_str()), plain) << written;
    EXPECT_EQ(fok(nullptr), std::nullopt);
}

TEST_F(PasswordTest, CurrentFormRoundTripsUnderItsKey) {
    const std::string key = "monitoruser\tPRODDB01";
    for (const std::string password : {"s3cr3t!", "with blank", "a", "x\by\x1b", "NONE"})
        EXPECT_EQ(fok(current(password, key).c_str()),
                  password == "NONE" ? std::nullopt : std::optional<std::string>(password));
    EXPECT_NE(current("s3cr3t!", key), current("s3cr3t!", key));  // random filler

    // Explicit key fields replace the settings: empty ones are skipped, ten
    // at most are used, further fields must match too.
    const std::string bound = current("pw", "alice\tSRV");
    EXPECT_EQ(fo1(bound.c_str(), {"alice", "", "SRV"}), "pw");
    EXPECT_EQ(fo1(bound.c_str(), {"alice", "SRX"}), "Error invalid password 3");
    const std::string ten = current("pw", "a\tb\tc\td\te\tf\tg\th\ti\tj");
    EXPECT_EQ(fo1(ten.c_str(), {"a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k"}), "pw");
    const std::string three = current("pw", "alice\tSRV\tdb9");
    EXPECT_EQ(fo1(three.c_str(), {"alice", "SRV", "db9"}), "pw");
    EXPECT_EQ(fo1(three.c_str(), {"alice", "SRV", "db8"}), "Error invalid password 3");

    // Only 50 characters are carried: a long server id is cut and still
    // matches, as fields are compared over the shorter length.
    const std::string long_server = "alice\t" + std::string(60, 'S');
    EXPECT_EQ(fo1(current("pw", long_server).c_str(), {"alice", std::string(60, 'S')}), "pw");
    // An empty key field never matches.
    EXPECT_EQ(n_Descrypt(current("pw", "alice\t\tSRV"), "alice\t\tSRV"), "Error invalid password 2");
    // The de-scrambler reads lower-case digits too.
    EXPECT_EQ(n_Descrypt(lowered(bound), "alice\tSRV"), "pw");
}

TEST_F(PasswordTest, CurrentFormForAnotherLogonOrServerIsRefused) {
    const std::string scrambled = current("s3cr3t!", "monitoruser\tPRODDB01");
    // Same seed, one key character off: the bound field no longer matches.
    const std::pair<const char*, const char*> others[] = {{"monitoruses", "PRODDB01"},
                                                          {"monitoruser", "PRODDB02"}};
    for (const auto& [logonid, serverid] : others) {
        env_vars.logonid = logonid;
        env_vars.serverid = serverid;
        EXPECT_EQ(fok(scrambled.c_str()), "Error invalid password 3") << logonid << serverid;
    }
}

TEST_F(PasswordTest, OldFormRoundTripsWithTheFixedKey) {
    const std::string key = old_form_key();
    EXPECT_EQ(key.size(), 12u);
    for (const std::string& password :
         {std::string("tiger"), std::string("p"), std::string(32, 'y'), std::string("\xe9t\xe9")}) {
        const std::string scrambled = n_EncryptOld(password, key).value_or("");
        EXPECT_EQ(scrambled.find_first_not_of("0123456789ABCDEF"), std::string::npos);
        EXPECT_EQ(fok(scrambled.c_str()), password);  // 64 digits
        env_vars.logonid = "someone-else";            // not bound to the settings
        EXPECT_EQ(fok(scrambled.c_str()), password);
    }
    // Lower-case digits make it a plain text for fok; the de-scrambler
    // reads them, and other characters count as the digit 0.
    const std::string lower = lowered(*n_EncryptOld("tiger", key));
    EXPECT_EQ(fok(lower.c_str()), lower);
    EXPECT_EQ(n_DescryptOld(lower, key), "tiger");
    const std::string zeros = std::string(60, '0') + "4A6B";
    EXPECT_EQ(n_DescryptOld("zz" + zeros.substr(2), "k3y!"), n_DescryptOld(zeros, "k3y!"));
    EXPECT_EQ(n_DescryptOld("", key), "");
    // A longer text than the form still gives at most 64 characters.
    EXPECT_EQ(n_DescryptOld(std::string(426, 'D'), key).size(), 64u);
}

TEST_F(PasswordTest, ScramblersRefuseWhatCannotBeCarried) {
    EXPECT_FALSE(n_Encrypt("tab\tinside", "a\tb"));
    EXPECT_FALSE(n_Encrypt("caf\xc3\xa9", "a\tb"));         // outside the table
    EXPECT_FALSE(n_Encrypt(std::string(50, 'p'), "a\tb"));  // no room for its tab
    EXPECT_EQ(n_Descrypt(current(std::string(49, 'p'), "a\tb"), "a\tb"), std::string(49, 'p'));
    EXPECT_FALSE(n_EncryptOld(std::string(33, 'p'), old_form_key()));
    EXPECT_FALSE(n_EncryptOld("a\tb", old_form_key()));
}

} // namespace
