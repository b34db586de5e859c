#pragma once
// The message of the exception of type E that `f` raises, or
// "(nothing raised)", so a test can compare texts in one expectation.

#include <string>

template <class E, class F>
std::string messageOf(F&& f) {
  try {
    f();
  } catch (const E& e) {
    return e.what();
  }
  return "(nothing raised)";
}
