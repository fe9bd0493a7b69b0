#pragma once

#include <functional>
#include <optional>
#include <string>

namespace vrexa::updater {

// Looks up an environment variable; nothing when it is unset or empty.
using Environment = std::function<std::optional<std::string>(const std::string& name)>;

// The process's own environment.
Environment ProcessEnvironment();
// An environment in which nothing is set.
Environment EmptyEnvironment();
// The environment a build lets override its configuration: the process's in
// a developer build, an empty one in a vendor's build.
Environment OverrideEnvironment();

// The variables a developer build reads.
inline constexpr const char* kStringTableVariable = "VREXA_STRING_TABLE";
inline constexpr const char* kManifestHostVariable = "VREXA_MANIFEST_HOST";
inline constexpr const char* kGeolocationUrlVariable = "VREXA_GEOLOCATION_URL";
inline constexpr const char* kEventsAnalyticsUrlVariable = "VREXA_EVENTS_ANALYTICS_URL";
inline constexpr const char* kTransferAnalyticsUrlVariable = "VREXA_TRANSFER_ANALYTICS_URL";
inline constexpr const char* kUserInterfaceVariable = "VREXA_UI";
inline constexpr const char* kRegistryRootVariable = "VREXA_REGISTRY_ROOT";
// ":"-separated public key files whose signatures documents must carry.
inline constexpr const char* kTrustedKeysVariable = "VREXA_TRUSTED_KEYS";

}  // namespace vrexa::updater
