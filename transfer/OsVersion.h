#pragma once

#include <functional>
#include <string>
#include <vector>

namespace vrexa {

// The operating-system description reported by the service's start record
// and by analytics, such as "Linux Debian GNU/Linux 12 (bookworm)". Worked out
// once per process; every call returns a copy of the same text.
std::string GetOsVersion();

// Whether the system is at least (major, minor, service-pack major).
using WindowsVersionCheck = std::function<bool(int major, int minor, int servicePack)>;

// The Windows description ("Windows 7 SP1", "Windows XP SP3", "Windows 10")
// from the greatest version between 5.0 SP0 and 10.0 SP0 that isAtLeast
// accepts; a system below 5.0 is "Windows Unsupported Unknown".
std::string WindowsVersionText(const WindowsVersionCheck& isAtLeast);

// "Linux " and the PRETTY_NAME of the first os-release file that names one,
// else "Linux " and kernelRelease; "Linux" alone when both are missing.
std::string LinuxVersionText(const std::vector<std::string>& osReleaseFiles, const std::string& kernelRelease);

// The PRETTY_NAME value of an os-release text (quotes and escapes removed);
// empty when it has none.
std::string PrettyNameOf(const std::string& osRelease);

}  // namespace vrexa
