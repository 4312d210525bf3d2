#pragma once

#include "wifi/pending_outgoing_files_registry.h"
#include "wifi/received_files_registry.h"
#include "wifi/sent_files_registry.h"
#include "wifi/wifi_peer_registry.h"
#include "wifi_ui/wifi_registries.h"

#include <QApplication>
#include <QTemporaryDir>

namespace qb::test {

// Widgets need a QApplication; one for the whole test binary.
inline void ensureWidgetApplication()
{
    if (QApplication::instance() != nullptr)
        return;
    static int argc = 1;
    static char name[] = "wifi_ui_tests";
    static char* argv[] = {name, nullptr};
    static auto* app = new QApplication(argc, argv);
    (void)app;
}

// The four registries over a temporary data folder.
struct TestRegistries
{
    TestRegistries() { ensureWidgetApplication(); }

    QTemporaryDir data;
    WiFiPeerRegistry peers{data.path()};
    PendingOutgoingFilesRegistry pending;
    ReceivedFilesRegistry received{data.path()};
    SentFilesRegistry sent{data.path()};

    WiFiRegistries all() { return {&peers, &pending, &received, &sent}; }
};

} // namespace qb::test
