// What the package tools refuse: the whole message, one line, naming the
// file or the place of the script at fault.
#pragma once

#include <stdexcept>

namespace tiko::packages {

class Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace tiko::packages
