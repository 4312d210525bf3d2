#include "documents/built_in_documents.h"

namespace qb::BuiltInDocuments {

QString about()
{
    return QStringLiteral("# About Quillbay");
}

QString help()
{
    return QStringLiteral("# Quillbay Help");
}

QString privacyPolicy()
{
    return QStringLiteral("# Privacy Policy");
}

QString terms()
{
    return QStringLiteral("# Terms & Conditions");
}

} // namespace qb::BuiltInDocuments
