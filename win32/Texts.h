// The native window's texts: the Qt window's tr() sources are the English,
// and the Qt catalogue gives the French, read into a table at build time.
#pragma once

#include <string>

#include "util/Win32.h"

namespace ZantrelWin32 {

// The text of the window's catalogue context ("TFrmMain") in the current
// language, UTF-8; the English source itself when the catalogue has none.
std::string Tr(const char* context, const char* source);
// Tr with "%1", "%2", "%3" replaced by the arguments.
std::string Tr(const char* context, const char* source, const std::string& a1, const std::string& a2 = {},
               const std::string& a3 = {});

inline std::wstring W(const std::string& text) { return VEK::Win32::Wide(text); }
inline std::string U(const std::wstring& text) { return VEK::Win32::Narrow(text); }

}  // namespace ZantrelWin32
