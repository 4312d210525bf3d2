#pragma once

#include <QString>

namespace qb::SupportContact {

// The support team's address: mails from the application go there, and the documents name it.
inline QString emailAddress()
{
    return QStringLiteral("support@halvorin.com");
}

} // namespace qb::SupportContact
