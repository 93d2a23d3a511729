#pragma once
// The command-line splitter. Screen-saver hosts hand the program one line of
// text; its first argument picks the mode. The rules are those of the classic
// desktop runtime: blanks and control bytes separate words, double quotes
// group blanks into a word and are themselves dropped, and the scan steps by
// whole characters of a multi-byte encoding so the second byte of a character
// never splits a word or opens a quote.
//
// Pure code: no Qt, no platform calls (the fuzz target builds it with clang).
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace hakop {

// How many bytes the character starting at p takes; 'remaining' (>= 1) is the
// number of bytes left in the line from p on. Never returns more than
// 'remaining' and never less than 1.
using CharWidth = std::size_t (*)(const unsigned char* p, std::size_t remaining);

// UTF-8 (what the program gets from a Linux locale): a lead byte takes its
// sequence length when all its continuation bytes follow; anything else,
// including a truncated or malformed sequence, counts as one byte, so a broken
// character can never swallow a blank or a quote.
std::size_t utf8CharWidth(const unsigned char* p, std::size_t remaining);

// Word n of the line (word 0 is normally the program path). The line ends at
// its first NUL byte, as a C string would. As with the classic runtime, the
// scan stops at the first empty word: asking for any word after it gives "".
std::string word(std::string_view line, int n, CharWidth width = utf8CharWidth);

// Word 1: the argument that selects the mode ("" when there is none).
std::string modeArgument(std::string_view line, CharWidth width = utf8CharWidth);

// On Linux the program receives argv, already split by whoever started it.
// This joins it back into one line that the splitter turns into the same
// words: elements that are empty or hold blanks, control bytes or quotes are
// put in double quotes. The splitter drops every double quote, so a quote
// inside an element cannot survive either way; it is left out here so that it
// cannot end the quoted stretch early and split the element in two.
std::string joinArguments(const std::vector<std::string>& args);
std::string joinArguments(int argc, const char* const* argv);

} // namespace hakop
