#include "settings/UserRegistry.h"

namespace VEKRegistry {

std::unique_ptr<Store> OpenUserRegistry() { return std::make_unique<FileStore>(DefaultRegistryFileName()); }

}  // namespace VEKRegistry
