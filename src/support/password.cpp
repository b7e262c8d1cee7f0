// Password scrambling. The collector only reads scrambled passwords; the
// scrambling direction is here for the tools that write them.
//
// Current form (88 hexadecimal digits, 44 bytes): up to 50 characters
// "password<tab>field<tab>field...", each character replaced by its index
// in the character table (7 bits), the indices stored in reverse order and
// packed most significant bit first, then passed through a keystream that
// depends on the key (logon id and server id). An index 0 ends the text;
// what follows it is random filler.
//
// Old form (64 hexadecimal digits, 32 bytes): the password, a tab and
// filler, passed through a keystream that only uses the first character of
// the key; the key is the fixed key text scrambled with itself.
#include "support/password.h"

#include "runtime/settings.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <random>

namespace qvx {

namespace {

// Character table: index 0 is the terminator; 1 to 101 hold the printable
// ASCII characters, tab, and BEL, BS, VT, FF and ESC, in a fixed shuffled
// order. Passwords with other characters cannot be scrambled in the
// current form.
constexpr char char_table[] =
    "\0"
    "?(3$D\\~5obu_t4k<Cjh1"            // 1 to 20
    "Bd6m}.,A{\aT]\x1b" "V\t)!+gU"     // 21 to 40
    "\v-2N*JwzaW=;SeF9#pQ`"            // 41 to 60
    "l\b\"K[M%ErfYc&q0IH:P8"           // 61 to 80
    "sZx'^G\fniv@>|LOy XR7"            // 81 to 100
    "/";                               // 101
constexpr int table_size = 102;
static_assert(sizeof char_table == table_size + 1);

// Index of each character in the table; 0 for characters outside it.
constexpr std::array<uint8_t, 256> char_index = [] {
    std::array<uint8_t, 256> index{};
    for (int i = 1; i < table_size; ++i) index[static_cast<unsigned char>(char_table[i])] = static_cast<uint8_t>(i);
    return index;
}();

int index_of(char c) { return char_index[static_cast<unsigned char>(c)]; }
char char_at(int index) { return index >= 0 && index < table_size ? char_table[index] : '\0'; }

// The fixed key text of the old form.
constexpr std::string_view old_key_text = "falcon";

constexpr size_t current_hex_len = 88;
constexpr size_t current_bytes = 44;
constexpr size_t current_chars = 50;
constexpr size_t packed_bytes = 49;  // 7 groups of 7 bytes
constexpr size_t packed_values = 56; // 7 groups of 8 seven-bit values
constexpr size_t old_bytes = 32;
constexpr size_t old_result_len = 64;  // room of an old-form password

const char* const err_null = "Error Null password";
const char* const err_length = "Error incorrect password length";
const char* const err_invalid_2 = "Error invalid password 2";
const char* const err_invalid_3 = "Error invalid password 3";

std::mt19937& filler_source() {
    static std::mt19937 gen{std::random_device{}()};
    return gen;
}

int random_between(int lo, int hi) {
    return std::uniform_int_distribution<int>(lo, hi)(filler_source());
}

// ---- hexadecimal ----------------------------------------------------------

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return 0;
}

// Complete pairs only; an odd last digit is not used.
std::vector<uint8_t> from_hex(std::string_view text) {
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i + 1 < text.size(); i += 2)
        bytes.push_back(static_cast<uint8_t>(hex_digit(text[i]) * 16 + hex_digit(text[i + 1])));
    return bytes;
}

std::string to_hex(const std::vector<uint8_t>& bytes) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string text;
    for (uint8_t b : bytes) {
        text += digits[b >> 4];
        text += digits[b & 15];
    }
    return text;
}

bool all_hex(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); });
}

// The plain form: a marker character dropped, cut to max_len characters.
std::string plain_form(std::string_view text, size_t max_len) {
    if (!text.empty() && std::string_view("*#!-=").find(text.front()) != std::string_view::npos)
        text.remove_prefix(1);
    return std::string(text.substr(0, max_len));
}

std::vector<std::string_view> split_tabs(std::string_view text) {
    std::vector<std::string_view> fields;
    for (;;) {
        const size_t tab = text.find('\t');
        fields.push_back(text.substr(0, tab));
        if (tab == std::string_view::npos) return fields;
        text.remove_prefix(tab + 1);
    }
}

// ---- current form ---------------------------------------------------------

int n_GetSeedData(std::string_view key) {
    uint64_t product = 1;
    for (size_t i = 0; i < key.size(); ++i) {
        const uint64_t factor = std::max<uint64_t>(3, i + index_of(key[i]));
        product *= factor;
        if (product > 25443422) break;
    }
    while (product < 25443423) product *= 31;
    const uint32_t scaled = static_cast<uint32_t>(product) * 4u - 1u;
    return static_cast<int>((scaled % 253 + 1) & 0xFF) | 18;
}

int n_GetNextSeed(int seed, uint8_t scrambled) {
    return (seed + (scrambled * 462607) / 33) % 253 + 1;
}

enum class Direction { scramble, descramble };

// The keystream of the current form; the next seed always follows the
// scrambled byte.
void n_DoDec(std::vector<uint8_t>& bytes, std::string_view key, Direction dir) {
    int seed = n_GetSeedData(key);
    size_t position = 0;
    for (uint8_t& b : bytes) {
        const uint8_t key_char = key.empty() ? 0 : static_cast<uint8_t>(key[position]);
        const uint8_t result = static_cast<uint8_t>(key_char ^ seed ^ b);
        seed = n_GetNextSeed(seed, dir == Direction::descramble ? b : result);
        b = result;
        if (!key.empty()) position = (position + 1) % key.size();
    }
}

// Bytes into seven-bit values, most significant bit first.
std::array<uint8_t, packed_values> n_transC2N(const std::array<uint8_t, packed_bytes>& bytes) {
    std::array<uint8_t, packed_values> values{};
    for (size_t bit = 0; bit < packed_values * 7; ++bit) {
        const int set = (bytes[bit / 8] >> (7 - bit % 8)) & 1;
        values[bit / 7] = static_cast<uint8_t>(values[bit / 7] << 1 | set);
    }
    return values;
}

std::array<uint8_t, packed_bytes> n_transN2C(const std::array<uint8_t, packed_values>& values) {
    std::array<uint8_t, packed_bytes> bytes{};
    for (size_t bit = 0; bit < packed_values * 7; ++bit) {
        const int set = (values[bit / 7] >> (6 - bit % 7)) & 1;
        bytes[bit / 8] = static_cast<uint8_t>(bytes[bit / 8] | set << (7 - bit % 8));
    }
    return bytes;
}

// ---- old form -------------------------------------------------------------

long GetSeedData(std::string_view key) {
    if (key.size() < 4) return -1;
    long seed = 1;
    for (size_t i = 0; i < key.size(); ++i) seed += static_cast<unsigned char>(key[i]) + static_cast<long>(i);
    while (seed <= 9999999) seed *= 2;
    return seed;
}

// Its own inverse for bytes other than zero.
void n_DoEncOld(std::vector<uint8_t>& bytes, std::string_view key) {
    const long n = static_cast<long>(bytes.size());
    const uint8_t first = key.empty() ? 0 : static_cast<uint8_t>(key.front());
    long k = (GetSeedData(key) / 997 - 1) % 254 + 1;
    for (long p = 0; p < n; ++p) {
        k = (p - n + k - 1) % 254 + 1;
        const uint8_t result = static_cast<uint8_t>((first ^ k) & 0xFF) ^ bytes[p];
        if (result != 0) bytes[p] = result;
    }
}

} // namespace

// ---- readers --------------------------------------------------------------

std::string n_Descrypt(std::string_view text, std::string_view key) {
    if (text.empty()) return err_null;
    if (text.size() != current_hex_len) return err_length;

    std::vector<uint8_t> bytes = from_hex(text);
    n_DoDec(bytes, key, Direction::descramble);
    std::array<uint8_t, packed_bytes> padded{};
    std::copy_n(bytes.begin(), current_bytes, padded.begin());
    const auto values = n_transC2N(padded);

    std::string plain;
    for (size_t j = 0; j < current_chars; ++j) {
        const char c = char_at(values[current_chars - 1 - j]);
        if (c == '\0') break;
        plain += c;
    }

    const auto fields = split_tabs(plain);
    const auto key_fields = split_tabs(key);
    for (size_t i = 1; i < fields.size(); ++i) {
        const std::string_view expected = i - 1 < key_fields.size() ? key_fields[i - 1] : std::string_view{};
        if (expected.empty()) return err_invalid_2;
        const size_t n = std::min(fields[i].size(), expected.size());
        if (fields[i].substr(0, n) != expected.substr(0, n)) return err_invalid_3;
    }
    return std::string(fields[0]);
}

std::string n_DescryptOld(std::string_view text, std::string_view key) {
    if (text.empty()) return {};
    std::vector<uint8_t> bytes = from_hex(text);
    n_DoEncOld(bytes, key);
    std::string plain;
    for (uint8_t b : bytes) {
        if (b == '\t' || b == 0 || plain.size() == old_result_len) break;
        plain += static_cast<char>(b);
    }
    return plain;
}

std::string old_form_key() {
    std::vector<uint8_t> bytes(old_key_text.begin(), old_key_text.end());
    n_DoEncOld(bytes, old_key_text);
    return to_hex(bytes);
}

std::string fo1(const char* password, const std::vector<std::string>& fields) {
    const std::string_view text = password ? password : "";
    if (!all_hex(text)) return plain_form(text, 99);

    std::string key;
    int used = 0;
    for (const std::string& field : fields) {
        if (field.empty()) continue;
        if (used++ == 10) break;
        if (!key.empty()) key += '\t';
        key += field;
    }
    if (used == 0) key = env_vars.logonid + '\t' + env_vars.serverid;
    return n_Descrypt(text, key);
}

std::string ofok(const char* password) {
    const std::string_view text = password ? password : "";
    if (!all_hex(text)) return plain_form(text, 64);
    return n_DescryptOld(text, old_form_key());
}

std::optional<std::string> fok(const char* password) {
    if (!password) return std::nullopt;
    std::string plain = std::string_view(password).size() == 64 ? ofok(password) : fo1(password);
    if (plain == "NONE") return std::nullopt;
    return plain;
}

// ---- scramblers -----------------------------------------------------------

std::optional<std::string> n_Encrypt(std::string_view password, std::string_view key) {
    if (password.find('\t') != std::string_view::npos) return std::nullopt;
    if (password.size() + 1 > current_chars) return std::nullopt;
    // Key fields that do not fit are cut; the reader compares fields over
    // the shorter length.
    const std::string text = (std::string(password) + '\t' + std::string(key)).substr(0, current_chars);
    if (std::any_of(text.begin(), text.end(), [](char c) { return index_of(c) == 0; }))
        return std::nullopt;

    std::array<uint8_t, packed_values> values{};
    for (size_t j = 0; j < current_chars; ++j) {
        uint8_t index = 0;  // the terminator right after the text
        if (j < text.size()) {
            index = static_cast<uint8_t>(index_of(text[j]));
        } else if (j > text.size()) {
            index = static_cast<uint8_t>(random_between(1, table_size - 1));
        }
        values[current_chars - 1 - j] = index;
    }
    const auto packed = n_transN2C(values);
    std::vector<uint8_t> bytes(packed.begin(), packed.begin() + current_bytes);
    n_DoDec(bytes, key, Direction::scramble);
    return to_hex(bytes);
}

std::optional<std::string> n_EncryptOld(std::string_view password, std::string_view key) {
    if (password.size() > old_bytes || password.find('\t') != std::string_view::npos ||
        password.find('\0') != std::string_view::npos)
        return std::nullopt;
    std::vector<uint8_t> bytes(password.begin(), password.end());
    if (bytes.size() < old_bytes) bytes.push_back('\t');
    while (bytes.size() < old_bytes) bytes.push_back(static_cast<uint8_t>(random_between('!', '~')));
    n_DoEncOld(bytes, key);
    return to_hex(bytes);
}

} // namespace qvx
