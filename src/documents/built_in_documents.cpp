#include "documents/built_in_documents.h"

#include "platform/support_contact.h"

#include <QFile>

namespace qb::BuiltInDocuments {

namespace {

// The texts are compiled in as resources; the support address is filled in from the one
// constant the mail helper uses too.
QString load(const QString& name)
{
    QFile file(QStringLiteral(":/documents/") + name);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll())
        .replace(QStringLiteral("{{supportEmail}}"), SupportContact::emailAddress());
}

} // namespace

QString about()
{
    static const QString text = load(QStringLiteral("about.md"));
    return text;
}

QString help()
{
    static const QString text = load(QStringLiteral("help.md"));
    return text;
}

QString privacyPolicy()
{
    static const QString text = load(QStringLiteral("privacy_policy.md"));
    return text;
}

QString terms()
{
    static const QString text = load(QStringLiteral("terms.md"));
    return text;
}

} // namespace qb::BuiltInDocuments
