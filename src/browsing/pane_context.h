#pragma once

#include "wifi_ui/wifi_registries.h"

namespace qb {

class DeviceListViewModel;
class ObservableFlag;
class PreferenceStore;
class TransferQueueViewModel;

// What the main window hands to each of its panes: the application's view models, the stored
// preferences, the Wi-Fi registries and the window's show-computer-pane flag.
struct PaneContext
{
    DeviceListViewModel* devices = nullptr;
    TransferQueueViewModel* transfers = nullptr;
    PreferenceStore* preferences = nullptr;
    WiFiRegistries wifi;
    ObservableFlag* showComputerPane = nullptr;
};

} // namespace qb
