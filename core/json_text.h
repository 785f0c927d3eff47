#pragma once

#include <nlohmann/json.hpp>
#include <string>

// `value` as compact JSON on one line, like its own dump(), but with every floating-point
// number in the program's shortest plain decimal (core/shortest_decimal.h) instead of the
// library's, which turns 0.00009 into 9e-05. A number that is not finite is written null, as
// JSON has no other way to say it; text that is not valid UTF-8 is replaced, not refused.
std::string CompactJson(const nlohmann::json& value);
