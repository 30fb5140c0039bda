#pragma once

#include <stdexcept>

// A store that cannot be opened, read or written: the message names the store and says why.
class TRecordsError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};
