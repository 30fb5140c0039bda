#include "records/SqlValue.h"

std::optional<double> SqlReal(const TSqlValue& value)
{
  if (const auto* whole = std::get_if<std::int64_t>(&value))
    return static_cast<double>(*whole);
  if (const auto* real = std::get_if<double>(&value))
    return *real;
  return std::nullopt;
}

std::string SqlText(const TSqlValue& value)
{
  if (const auto* text = std::get_if<std::string>(&value))
    return *text;
  if (const auto* whole = std::get_if<std::int64_t>(&value))
    return std::to_string(*whole);
  return std::string();
}

TSqlValue SqlOptional(std::optional<double> value)
{
  return value ? TSqlValue(*value) : TSqlValue();
}
