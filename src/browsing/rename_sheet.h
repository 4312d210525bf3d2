#pragma once

#include <QDialog>

#include <optional>

class QLineEdit;
class QPushButton;

namespace qb {

// The window-modal sheet in which the user types a new name for a phone item. It only edits
// the text and reports the choice: confirmed(name) carries the text as it stood when the user
// confirmed, exactly once, by the Rename button or by Return in the field.
class RenameSheet : public QDialog
{
    Q_OBJECT

public:
    RenameSheet(const QString& itemName, QWidget* parent = nullptr);

    QString text() const;
    QLineEdit* field() const { return m_field; }
    QPushButton* renameButton() const { return m_rename; }
    QPushButton* cancelButton() const { return m_cancel; }

    // Why a name cannot be given to a phone item, or nothing when it can. The empty name is
    // the caller's: it renames nothing.
    static std::optional<QString> problemWithName(const QString& name);

signals:
    void confirmed(const QString& name);

private:
    void confirm();

    QLineEdit* m_field;
    QPushButton* m_cancel;
    QPushButton* m_rename;
    bool m_confirmed = false;
};

} // namespace qb
