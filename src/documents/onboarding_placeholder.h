#pragma once

#include <QUrl>
#include <QWidget>

#include <functional>
#include <optional>

namespace qb {

// The setup guide "Connect Your Android Device": one card for USB and one for Wi-Fi, each with
// numbered steps and a tip; the Wi-Fi card links to the companion app's store page.
class OnboardingPlaceholder : public QWidget
{
    Q_OBJECT

public:
    using UrlOpener = std::function<void(const QUrl&)>;

    explicit OnboardingPlaceholder(QWidget* parent = nullptr);

    // Replaces the desktop's default handler for the store page (tests pass a recorder).
    void setUrlOpener(UrlOpener opener);

    // The companion phone app's page in the Android app store.
    static QString companionStoreAddress();
    // The address as a URL when it is a valid http or https address with a host.
    static std::optional<QUrl> webAddress(const QString& address);

private:
    UrlOpener m_openUrl;
};

} // namespace qb
