// The description writer: a checked Description into the two databases of a
// new project folder (schema.h), each built in one transaction; the rows of
// CSV files stream from the file to the database.
//
//   WriteProjectDatabase(folder + "/project.db", d);
//   WriteDataDatabase(folder + "/data.db", d);
#pragma once

#include <string>

#include "sqlhost/project/description_reader.h"

namespace pramble::sqlhost {
class Connection;
}

namespace pramble::sqlhost::description {

// Creates the project database at `path` (which must not exist): the schema,
// the settings, the definitions, the analyses and the layers with their
// fields. Failures throw host::HostError (sqlhost/dao/sqlite_connection.h).
void WriteProjectDatabase(const std::string& path, const Description& d);

// Inserts the definitions and analyses of `d` into the project database of
// `db` (within the caller's transaction).
void WriteDefinitionsAndAnalyses(const Connection& db, const Description& d);

// Creates the data database at `path` (which must not exist): one table per
// layer with its rows, and an index on each link field. The rows are read
// (CSV files record by record) and checked as they go in: a row at fault
// throws Problem naming its file and line or JSON path and its field, and
// leaves the database half-made, for the caller to remove.
void WriteDataDatabase(const std::string& path, const Description& d);

}  // namespace pramble::sqlhost::description
