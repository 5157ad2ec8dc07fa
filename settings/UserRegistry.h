// The registry of the user running the program: on Windows the system's own,
// elsewhere a file of this program's (FileStore, at DefaultRegistryFileName).
#pragma once

#include <memory>

#include "settings/RegistryStore.h"

namespace VEKRegistry {

std::unique_ptr<Store> OpenUserRegistry();

}  // namespace VEKRegistry
