#pragma once

#include <ostream>

// A parameterised case prints as its name, so that ctest's test names stay the same from build to
// build: a case without a printer prints as its raw bytes, pointers included. A test file brings it
// into its own namespace, where the lookup for PrintTo finds it: `using CasePrinter::PrintTo;`.
namespace CasePrinter {

template <class T>
  requires requires(const T& c) { c.Name; }
void PrintTo(const T& c, std::ostream* out)
{
  *out << c.Name;
}

} // namespace CasePrinter
