#pragma once

#include "app/fake_alert_presenter.h"
#include "app/quillbay_app.h"
#include "platform/scripted_process_runner.h"

namespace qb::test {

// An application that runs no program, shows no alert, installs no crash guard
// and serves phones without advertising itself; `preferences` null keeps the user's settings.
inline QuillbayApp::Options fakeAppOptions(std::shared_ptr<PreferenceStore> preferences)
{
    QuillbayApp::Options options;
    options.preferences = std::move(preferences);
    options.processRunner = std::make_shared<ScriptedProcessRunner>();
    options.alerts = std::make_shared<FakeAlertPresenter>();
    options.installCrashGuard = false;
    options.makeWiFiServer = [](WiFiServerBackend& backend) {
        return std::make_unique<WiFiAdvertiser>(backend, nullptr);
    };
    return options;
}

} // namespace qb::test
