#pragma once

// What the client and the tunnel service rely on about the sing-box engine
// and the service that runs it.
namespace Engine {

// The service's fixed name for the service-control tool.
inline constexpr char kServiceName[] = "QuilletVpnService";
// The systemd unit that carries the service on Linux.
inline constexpr char kLinuxUnitName[] = "quillet-vpn.service";

// The configuration the service runs, relative to the shared data directory,
// and the engine's working directory beside it.
inline constexpr char kActiveConfigRelativePath[] = "configs/active.json";
inline constexpr char kRuntimeDirectoryName[] = "runtime";
inline constexpr char kEngineLogFileName[] = "sing-box.log";
inline constexpr char kServiceLogFileName[] = "service.log";

// Engine commands: "check -c FILE" validates (exit 0 when valid);
// "run -D DIR -c FILE" runs the tunnel until it is terminated.
inline constexpr char kCheckCommand[] = "check";
inline constexpr char kRunCommand[] = "run";

// Control API defaults: GET /traffic streams {"up","down"} byte rates;
// PATCH or PUT /configs with {"mode": "global"|"rule"} switches routing in place.
inline constexpr char kDefaultControllerAddress[] = "127.0.0.1:9097";
inline constexpr char kTrafficPath[] = "/traffic";
inline constexpr char kConfigsPath[] = "/configs";

} // namespace Engine
