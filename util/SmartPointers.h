// Ownership vocabulary of the code base. The names are kept from the original
// design; the standard library supplies the behaviour.
#pragma once

#include <memory>

namespace VEK {

// Sole owner of one object; destroys it when reassigned or destroyed.
template <typename T>
using AutoPtr = std::unique_ptr<T>;

// Sole owner of an array.
template <typename T>
using ArrayAutoPtr = std::unique_ptr<T[]>;

// Shared owner of one object; the last release destroys it.
template <typename T>
using RefCount = std::shared_ptr<T>;

// Shared owner of an array (the bytes of a queued write share through it).
template <typename T>
using ArrayRefCount = std::shared_ptr<T[]>;

}  // namespace VEK
