// Why a system call failed, said in the user's language: the reason that
// the file layer and the engine add to their failures ("... (permission
// denied).").
#pragma once

#include <string>

namespace VEK {

// The reason for an errno value in the current language; the system's own
// English text for a value the program has no words of its own for.
std::string SystemReason(int error);

}  // namespace VEK
