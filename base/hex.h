// Bytes as hexadecimal digits: the log's dump of every answer, digests, and
// the escapes of the scenario transcript.
#pragma once

#include <string>
#include <string_view>

namespace mvx {

enum class HexCase { Upper, Lower };

// Two digits for the byte, appended.
void AppendHexByte(std::string& out, unsigned char byte, HexCase letters = HexCase::Upper);
// Four digits of a 16-bit value, most significant first ("5E3A").
std::string HexWord(unsigned value, HexCase letters = HexCase::Upper);
// Two digits per byte, nothing between.
std::string HexText(std::string_view bytes, HexCase letters = HexCase::Upper);
// Two upper-case digits per byte, separated by commas ("4F,4B").
std::string HexDump(std::string_view bytes);
// The same, appended to out.
void AppendHexDump(std::string& out, std::string_view bytes);

}  // namespace mvx
