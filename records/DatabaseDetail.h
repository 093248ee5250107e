#pragma once

// What the units of records/Database share and nobody else uses.

#include <QSqlQuery>
#include <QString>

#include <memory>
#include <unordered_map>

namespace dbdetail {

// The kept statements of connection "DB", by their text; emptied before the
// connection closes.
std::unordered_map<QString, std::unique_ptr<QSqlQuery>>& keptStatements();

// Forgets every kept statement (of Query and of KeptStatement) before the
// connection closes.
void releaseKept();

} // namespace dbdetail
