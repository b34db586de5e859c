#pragma once
// What NetworkManager's reason codes mean, in words for a report. The codes
// come with an active connection's StateChanged signal and, for a VPN, with
// VpnStateChanged; both enumerations share their values 0 to 11, and the
// active connection's goes on from there. The words only explain: whether a
// connection is up or gone is decided on its state, never on a reason,
// because the reason for the same event differs between NetworkManager
// releases.

#include <cstdint>
#include <string>

// "the VPN connection attempt timed out", ...; an unknown code is named by
// its number.
std::string networkManagerReasonText(uint32_t reason);
