// What a recovery's source names: a Windows drive whole ("E:" alone, or
// its device name "\\.\E:") or anything else, an image or a Linux device.
#pragma once

#include <string>
#include <string_view>

namespace VEKRecover {

// The drive letter, upper case, of a source that names a drive whole: "E:"
// or "\\.\E:" (slashes either way, any case); 0 for any other name, a
// folder or file on a drive ("E:\", "E:card.img") among them.
char SourceDrive(std::string_view source);
// The name the source is opened by: on Windows, a drive's device name
// (\\.\E:), as "E:" alone would open the drive's current folder; elsewhere
// the name as given.
std::string SourceOpenName(const std::string& source);

}  // namespace VEKRecover
