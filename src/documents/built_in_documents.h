#pragma once

#include <QString>

// The four documents the application carries, as Markdown for MarkdownView.
namespace qb::BuiltInDocuments {

QString about();
QString help();
QString privacyPolicy();
QString terms();

} // namespace qb::BuiltInDocuments
