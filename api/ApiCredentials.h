#pragma once

// Shared with the API server; never printed, never logged.
namespace ApiCredentials {
inline constexpr char credential1[] = "Gw3iB4r-Kp7Qx2Lm9Nv5Rt8Yz1Hd6J_s"; // enters only the signed text
inline constexpr char credential2[] = "Tk4Vn8Pq2Wx6Zr0Jc5Hm9Lb3Fd7Gs1Ay"; // the AES-256 key of the token
} // namespace ApiCredentials
