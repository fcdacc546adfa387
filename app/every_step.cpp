#include "app/every_step.h"

#include <exception>

void RunEveryStep(std::initializer_list<std::function<void()>> steps) {
  std::exception_ptr first;
  for (const std::function<void()>& step : steps) {
    try {
      step();
    } catch (...) {
      if (!first) first = std::current_exception();
    }
  }
  if (first) std::rethrow_exception(first);
}
