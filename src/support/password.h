// Scrambled database passwords: recognises the plain, current and old
// scrambled forms and returns the plain password.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qvx {

// The plain password for a password as written in the settings or
// PROCESS.CTL; nothing for a null password or "NONE"; an error text for a
// scrambled form that does not decode.
std::optional<std::string> fok(const char* password);

// Forms and their readers, for the logon and for tools that write
// scrambled passwords.
//
// Plain form: any text not made only of "0123456789ABCDEF"; a first
// character from "*#!-=" is a marker and is dropped. Current form: 88
// upper-case hexadecimal digits bound to a key of tab-separated fields
// (normally the logon id and the server id). Old form: 64 upper-case
// hexadecimal digits bound to a fixed key.

// Current path: for a scrambled text, the key is the non-empty fields
// (at most 10) joined with tabs, or the settings' logon id, a tab and the
// server id when none is given. Plain texts come back without marker and
// cut to 99 characters.
std::string fo1(const char* password, const std::vector<std::string>& fields = {});

// Old path: scrambled texts are read with the fixed key; plain texts come
// back without marker and cut to 64 characters.
std::string ofok(const char* password);

// De-scramblers of the current and the old form. Errors come back as the
// texts "Error Null password", "Error incorrect password length",
// "Error invalid password 2" and "Error invalid password 3". A password
// holds at most 50 characters in the current form and 64 in the old one,
// also when a longer text is given.
std::string n_Descrypt(std::string_view text, std::string_view key);
std::string n_DescryptOld(std::string_view text, std::string_view key);

// Scramblers: the inverse of the two de-scramblers, with random filler.
// Nothing when the password cannot be carried: current form, a password
// of more than 49 characters, holding a tab, or a password or key holding
// a character outside the character table (printable ASCII, tab and a few
// control characters are inside); old form, a password of more than 32
// characters or holding a tab or a zero byte. The current form carries the
// password, a tab and the key cut to 50 characters in all.
std::optional<std::string> n_Encrypt(std::string_view password, std::string_view key);
std::optional<std::string> n_EncryptOld(std::string_view password, std::string_view key);

// The fixed key of the old form (12 hexadecimal digits).
std::string old_form_key();

} // namespace qvx
