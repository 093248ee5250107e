#pragma once

#include <QSqlDatabase>
#include <QString>

// Table `outbox` of the station's SQLite file: one row per new attempt and
// per later change of one (review, correction), waiting for the publisher.
//
//   outbox    seq (grows with every row), attempt_id
//   instance  id: one random text made the first time, never changed; it
//             tells this file apart from any other station's on the server
//
// Triggers on table `attempt` write the rows, so they are part of the very
// transaction that writes the attempt, whoever writes it; a change made
// after the publisher read an attempt adds a row of its own and is sent
// again. The publisher deletes the rows the server has committed.
namespace Outbox {

// Creates the tables, the triggers and the instance id where missing
// (section Event names a server). Raises DbError.
void install(QSqlDatabase db);

// The file's instance id, made where missing. Raises DbError.
QString instanceId(QSqlDatabase db);

// Drops the triggers (no server any more): nothing new is captured, so
// nothing piles up that no one sends. Rows still waiting stay, to be sent
// when a server is named again. Raises DbError.
void uninstall(QSqlDatabase db);

} // namespace Outbox
