#pragma once

namespace qb {

class PendingOutgoingFilesRegistry;
class ReceivedFilesRegistry;
class SentFilesRegistry;
class WiFiPeerRegistry;

// The four registries of the Wi-Fi link that the Wi-Fi views read. The application passes the
// process's shared ones; tests pass their own.
struct WiFiRegistries
{
    WiFiPeerRegistry* peers = nullptr;
    PendingOutgoingFilesRegistry* pending = nullptr;
    ReceivedFilesRegistry* received = nullptr;
    SentFilesRegistry* sent = nullptr;

    static WiFiRegistries shared();
};

} // namespace qb
