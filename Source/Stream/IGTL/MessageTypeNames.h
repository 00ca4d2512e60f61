#pragma once

namespace Corvexis::IGTL::MessageTypeNames {

// The message type texts of the header's 12-byte type field, as sent on the wire.
inline constexpr const char* kImage = "IMAGE";
inline constexpr const char* kPolyData = "POLYDATA";
inline constexpr const char* kSensor = "SENSOR";
inline constexpr const char* kStatus = "STATUS";
inline constexpr const char* kTData = "TDATA";
inline constexpr const char* kTrackingCvx = "TRACKING_CVX";  // this system's own tracking message
inline constexpr const char* kTransform = "TRANSFORM";
inline constexpr const char* kUnknown = "UNKNOWN";

inline constexpr const char* kGetImage = "GET_IMAGE";
inline constexpr const char* kGetTransform = "GET_TRANS";
inline constexpr const char* kStopImage = "STP_IMAGE";
inline constexpr const char* kReadyTData = "RTS_TDATA";
inline constexpr const char* kStopTData = "STP_TDATA";
inline constexpr const char* kReadyPolyData = "RTS_POLYDATA";
inline constexpr const char* kStartPolyData = "STT_POLYDATA";
inline constexpr const char* kStopPolyData = "STP_POLYDATA";

}  // namespace Corvexis::IGTL::MessageTypeNames
