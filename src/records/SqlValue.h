#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

// A parameter or a column of a statement: NULL, a whole number, a real or a text. Values always go
// as parameters, never into the statement's text, so a serial is never SQL.
using TSqlValue = std::variant<std::monostate, std::int64_t, double, std::string>;
using TSqlRow = std::vector<TSqlValue>;

std::optional<double> SqlReal(const TSqlValue& value);
std::string SqlText(const TSqlValue& value);
TSqlValue SqlOptional(std::optional<double> value);
