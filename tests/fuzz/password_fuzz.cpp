// The password unscrambler as the logon calls it (fok), its two forms
// directly with a key, and the scramblers' promise that what they write
// reads back. The first byte chooses; the rest is split at the first tab
// into the text and the key (or the key fields, split at further tabs).
//
//   0 fok(text)  1 fo1(text, fields)  2 ofok(text)
//   3 n_Descrypt(text, key)  4 n_DescryptOld(text, key)
//   5 n_Encrypt then n_Descrypt  6 n_EncryptOld then n_DescryptOld
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "runtime/settings.h"
#include "support/password.h"

using namespace qvx;

namespace {

std::vector<std::string> split_tabs(std::string_view text) {
    std::vector<std::string> fields;
    for (;;) {
        const size_t tab = text.find('\t');
        fields.emplace_back(text.substr(0, tab));
        if (tab == std::string_view::npos) return fields;
        text.remove_prefix(tab + 1);
    }
}

// Whether the scrambled text carries a key field that is empty (an empty
// key, two tabs in a row): the reader refuses such a field, so the text
// does not read back.
bool carries_empty_key_field(const std::string& password, const std::string& key) {
    const auto carried = split_tabs((password + '\t' + key).substr(0, 50));
    const auto key_fields = split_tabs(key);
    for (size_t i = 1; i < carried.size(); ++i)
        if (key_fields[i - 1].empty()) return true;
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    qvxfuzz::fresh_state();
    env_vars.logonid = "monitor";
    env_vars.serverid = "PROD";
    const int mode = data[0] % 7;
    const std::string_view rest = qvxfuzz::as_text(data + 1, size - 1);
    const size_t tab = rest.find('\t');
    const std::string text(rest.substr(0, tab));
    const std::string key(tab == std::string_view::npos ? std::string_view{} : rest.substr(tab + 1));

    switch (mode) {
    case 0: {
        const auto plain = fok(text.c_str());
        if (plain) FUZZ_CHECK(*plain != "NONE" && plain->size() <= 99);
        break;
    }
    case 1: FUZZ_CHECK(fo1(text.c_str(), split_tabs(key)).size() <= 99); break;
    case 2: FUZZ_CHECK(ofok(text.c_str()).size() <= 64); break;
    case 3: FUZZ_CHECK(n_Descrypt(text, key).size() <= 50); break;
    case 4: FUZZ_CHECK(n_DescryptOld(text, key).size() <= text.size() / 2); break;
    case 5:
        if (const auto hex = n_Encrypt(text, key)) {
            FUZZ_CHECK(hex->size() == 88);
            const std::string back = n_Descrypt(*hex, key);
            FUZZ_CHECK(back == (carries_empty_key_field(text, key) ? "Error invalid password 2" : text));
        }
        break;
    case 6:
        if (const auto hex = n_EncryptOld(text, key)) {
            FUZZ_CHECK(hex->size() == 64);
            FUZZ_CHECK(n_DescryptOld(*hex, key) == text);
        }
        break;
    }
    qvxfuzz::fresh_state();
    return 0;
}
