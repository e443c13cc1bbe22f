#pragma once
// Compact JSON output shared by records, free-form values and the protocol
// envelopes: strings escaped minimally (UTF-8 kept as is), integers in
// decimal, floats in their shortest round-trip form with an integral value
// keeping ".0", non-finite floats as null, object keys in byte order.
#include <cstdint>
#include <string>
#include <string_view>

#include "json/parse.hpp"

namespace qel::json {

void write_string(std::string& out, std::string_view s);
void write_int(std::string& out, std::int64_t v);
void write_double(std::string& out, double v);
void write_value(std::string& out, const Value& v);

std::string quote_string(std::string_view s);
std::string format_double(double v);
std::string to_text(const Value& v);

bool valid_utf8(std::string_view bytes);
// Bytes as UTF-8 text, each malformed sequence replaced by U+FFFD.
std::string utf8_lossy(std::string_view bytes);

}  // namespace qel::json
