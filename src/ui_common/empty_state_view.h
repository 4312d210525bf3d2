#pragma once

#include <QString>
#include <QWidget>

#include <functional>

class QLabel;
class QPushButton;

namespace qb {

// A centred symbol, title and message for an empty or unavailable area, with a button only when
// both its label and its action are given. Title and message are shown as plain text.
class EmptyStateView : public QWidget
{
    Q_OBJECT

public:
    EmptyStateView(const QString& symbol, const QString& title, const QString& message,
                   const QString& actionLabel = {}, std::function<void()> action = {},
                   QWidget* parent = nullptr);

    // Replaces the contents in place (a pane reuses one view for its states).
    void setContent(const QString& symbol, const QString& title, const QString& message,
                    const QString& actionLabel = {}, std::function<void()> action = {});

    QString title() const;
    QString message() const;
    // Null when no button is shown.
    QPushButton* button() const;

private:
    QLabel* m_image;
    QLabel* m_title;
    QLabel* m_message;
    QPushButton* m_button;
    QWidget* m_buttonHolder = nullptr;
    std::function<void()> m_action;
};

} // namespace qb
