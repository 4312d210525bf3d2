#pragma once

#include <QWidget>

namespace qb {

// The About window: icon, name, version and build, rights notice, tagline, and links that open
// the Terms and Privacy sheets over this window. Its size is its content's.
class AboutWindow : public QWidget
{
    Q_OBJECT

public:
    explicit AboutWindow(QWidget* parent = nullptr);

    void showTerms();
    void showPrivacy();
};

} // namespace qb
