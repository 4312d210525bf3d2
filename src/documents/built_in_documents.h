#pragma once

#include <QString>

namespace qb::BuiltInDocuments {

QString about();
QString help();
QString privacyPolicy();
QString terms();

} // namespace qb::BuiltInDocuments
