#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "hid/hid_backend.h"

namespace kt {

// An interface list that is a snapshot of given paths, in order.
class PathList final : public HidInterfaceList {
 public:
  explicit PathList(std::vector<std::string> paths) : paths_(std::move(paths)) {}
  HidEnumStep Next(std::uint32_t index, std::string& path) override {
    if (index >= paths_.size()) return HidEnumStep::kEnd;
    path = paths_[index];
    return HidEnumStep::kInterface;
  }

 private:
  std::vector<std::string> paths_;
};

}  // namespace kt
