#pragma once

#include <string>

namespace kv {

// Names the current boot of the system: the same text for as long as it runs, another after a
// restart. Empty when the system does not tell, and then nothing may be taken as the same boot.
std::string BootId();

}  // namespace kv
