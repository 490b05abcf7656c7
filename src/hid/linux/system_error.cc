#include "hid/linux/system_error.h"

#include <system_error>

namespace kt {

std::string SystemErrorMessage(const std::string& operation, const std::string& object, int err) {
  std::string message = operation;
  if (!object.empty()) message += " " + object;
  // Unlike strerror, the category's message is safe from the monitor thread too.
  return message + ": " + std::system_category().message(err);
}

}  // namespace kt
