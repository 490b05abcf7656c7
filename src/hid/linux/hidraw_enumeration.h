#pragma once

#include <string>
#include <vector>

namespace kt {

// The device nodes of the present hidraw devices, in the kernel's order (by minor number, the order in
// which they were created), so that "the first matching device" means the same on every run.

// Through libudev: the real system. False, with the reason, when udev cannot be asked.
bool ListHidrawNodesWithUdev(std::vector<std::string>& nodes, std::string& error);

// By walking <sysfsRoot>/class/hidraw and naming each node <devRoot>/hidrawN: for fixture trees, where
// there is no udev database to ask. False when the directory cannot be read.
bool ListHidrawNodesInTree(const std::string& sysfsRoot, const std::string& devRoot,
                           std::vector<std::string>& nodes, std::string& error);

}  // namespace kt
