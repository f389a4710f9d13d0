#pragma once

// What the client relies on about the backend service: base URL, paths,
// the answer envelope's key label. Feature code names paths from here.
namespace Backend {

// Placeholder for the production API host; a real deployment points the client
// elsewhere with TARN_API_BASE_URL or the stored "apiBaseUrl".
inline constexpr char kDefaultApiBaseUrl[] = "https://api.quillet.invalid/tarn-api";

// Key-derivation label shared with the server: SHA-256(label + bearer token).
inline constexpr char kPayloadKeyLabel[] = "quillet-envelope-v1:";
static_assert(sizeof(kPayloadKeyLabel) - 1 == 20, "the label is 20 ASCII bytes");

inline constexpr char kPayloadAlgorithm[] = "AES-256-GCM";

// HTTP status above which an answer is a failure.
inline constexpr int kSuccessStatusLimit = 399;

namespace Path {
inline constexpr char kLogin[] = "/api/v1/auth/login";
inline constexpr char kRegister[] = "/api/v1/auth/register";
inline constexpr char kSendCode[] = "/api/v1/auth/send-code";
inline constexpr char kVerifyCode[] = "/api/v1/auth/verify-code";
inline constexpr char kResetPassword[] = "/api/v1/auth/reset-password";
inline constexpr char kLogout[] = "/api/v1/auth/logout";
inline constexpr char kAccountPassword[] = "/api/v1/account/password";
inline constexpr char kAccountDelete[] = "/api/v1/account/delete";
inline constexpr char kDevices[] = "/api/v1/devices";
inline constexpr char kDevicesRevoke[] = "/api/v1/devices/revoke";
inline constexpr char kBootstrap[] = "/api/v1/bootstrap";
inline constexpr char kPreferences[] = "/api/v1/preferences";
inline constexpr char kBilling[] = "/api/v1/billing";
inline constexpr char kInvite[] = "/api/v1/invite";
inline constexpr char kSingBoxConfig[] = "/api/v1/config/singbox"; // ?platform=%1&routing_mode=%2
inline constexpr char kNodesSelect[] = "/api/v1/nodes/select";
inline constexpr char kNodesRefresh[] = "/api/v1/nodes?refresh=1";
inline constexpr char kSpeedProbeDownload[] = "/api/v1/speed/probe/download"; // ?size=%1
inline constexpr char kSpeedProbeUpload[] = "/api/v1/speed/probe/upload";
inline constexpr char kSpeedTest[] = "/api/v1/speedtest";
inline constexpr char kSpeed[] = "/api/v1/speed";
inline constexpr char kOrders[] = "/api/v1/orders";
inline constexpr char kPaymentsCheckout[] = "/api/v1/payments/checkout";
inline constexpr char kPaymentsConfirm[] = "/api/v1/payments/confirm";
inline constexpr char kOrdersCancel[] = "/api/v1/orders/cancel";
inline constexpr char kTrialClaim[] = "/api/v1/trial/claim";
inline constexpr char kEventStream[] = "/api/v1/ws";
inline constexpr char kMessages[] = "/api/v1/messages";
inline constexpr char kMessagesRead[] = "/api/v1/messages/read";
inline constexpr char kSupportChat[] = "/api/v1/support/chat";
inline constexpr char kSupportMedia[] = "/api/v1/support/media";
inline constexpr char kDiagnosticLogs[] = "/api/v1/diagnostic-logs";
} // namespace Path

} // namespace Backend
