#include "wifi_ui/wifi_registries.h"

#include "wifi/pending_outgoing_files_registry.h"
#include "wifi/received_files_registry.h"
#include "wifi/sent_files_registry.h"
#include "wifi/wifi_peer_registry.h"

namespace qb {

WiFiRegistries WiFiRegistries::shared()
{
    return {&WiFiPeerRegistry::shared(), &PendingOutgoingFilesRegistry::shared(),
            &ReceivedFilesRegistry::shared(), &SentFilesRegistry::shared()};
}

} // namespace qb
