#include "browsing/rename_sheet.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace qb {

RenameSheet::RenameSheet(const QString& itemName, QWidget* parent) : QDialog(parent)
{
    setWindowModality(Qt::WindowModal);
    setWindowTitle(tr("Rename"));
    setFixedWidth(320);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 24, 24, 24);
    layout->setSpacing(16);

    auto* title = new QLabel(tr("Rename"), this);
    QFont headline = title->font();
    headline.setBold(true);
    title->setFont(headline);
    title->setAlignment(Qt::AlignCenter);
    layout->addWidget(title);

    m_field = new QLineEdit(itemName, this);
    m_field->setPlaceholderText(tr("New name"));
    m_field->setAccessibleName(tr("New name"));
    layout->addWidget(m_field);

    auto* buttons = new QHBoxLayout;
    m_cancel = new QPushButton(tr("Cancel"), this);
    m_rename = new QPushButton(tr("Rename"), this);
    // Neither button is a default button: Return belongs to the field, which confirms once.
    for (QPushButton* button : {m_cancel, m_rename}) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }
    buttons->addWidget(m_cancel);
    buttons->addStretch();
    buttons->addWidget(m_rename);
    layout->addLayout(buttons);

    m_rename->setEnabled(!itemName.isEmpty());
    connect(m_field, &QLineEdit::textChanged, this,
            [this](const QString& text) { m_rename->setEnabled(!text.isEmpty()); });
    connect(m_field, &QLineEdit::returnPressed, this, &RenameSheet::confirm);
    connect(m_rename, &QPushButton::clicked, this, &RenameSheet::confirm);
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
}

QString RenameSheet::text() const
{
    return m_field->text();
}

void RenameSheet::confirm()
{
    if (m_confirmed)
        return;
    m_confirmed = true;
    const QString name = m_field->text();
    emit confirmed(name);
    accept();
}

std::optional<QString> RenameSheet::problemWithName(const QString& name)
{
    if (name.contains(QLatin1Char('/')))
        return tr("A name cannot contain \u201c/\u201d.");
    if (name.contains(QChar(0)))
        return tr("A name cannot contain a null character.");
    if (name == QLatin1String(".") || name == QLatin1String(".."))
        return tr("\u201c%1\u201d cannot be used as a name.").arg(name);
    return std::nullopt;
}

} // namespace qb
