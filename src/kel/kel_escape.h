// kel_escape: a text turned into the body of a JSON/JavaScript string
// literal (no surrounding quotes), as templates and JSON-like object texts
// embed values. Stateless and thread-safe.
#pragma once

// A new NUL-terminated text (release with kel_escape_free): printable ASCII
// is copied except '"' and '\' (escaped with a backslash); line feed, tab,
// carriage return, backspace, form feed, vertical tab and bell are \n \t \r
// \b \f \v \a; another control character or DEL is \x and two upper-case
// hexadecimal digits; a character from 128 to 65535 is \u and four digits,
// one above 65535 \U and eight. A byte that does not start well-formed UTF-8
// stands for the character of its value. A null text gives null.
[[nodiscard]] char* kel_escape(const char* text);
void kel_escape_free(char* text);
