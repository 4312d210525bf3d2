#pragma once

#include <QDialog>

namespace qb {

class PreferenceStore;

// The legal agreements in front of the main window until the user accepts them. It cannot be
// dismissed: Escape, the title bar's close button and clicks elsewhere do nothing.
class ConsentView : public QDialog
{
    Q_OBJECT

public:
    static constexpr const char* acceptedKey = "hasAcceptedTerms";

    explicit ConsentView(PreferenceStore& preferences, QWidget* parent = nullptr);

    // True once the user accepted, in this or an earlier run.
    static bool hasAccepted(const PreferenceStore& preferences);

    void reject() override; // Escape: ignored

signals:
    void declined();
    void showTermsRequested();
    void showPrivacyRequested();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void acceptTerms();

    PreferenceStore& m_preferences;
};

} // namespace qb
