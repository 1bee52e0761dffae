// Backslash escapes of printed texts, e-mail bodies and formatted strings.
//
// "\\" "\f" "\n" "\r" "\t" "\v" give their control bytes; "\x" with up to two hexadecimal digits
// gives that byte (the character after the digits is skipped too); a backslash before anything
// else stays; a trailing lone backslash is dropped.
#pragma once

#include <string>
#include <string_view>

std::string DecodeEscapes(std::string_view text);
