#pragma once

#include <QString>
#include <QStringList>

namespace velmar {

struct DatabaseSettings;
struct FileLocations;

// What `velmarpay-cli init-db` and the program's first start make, all or nothing: the database
// (an SQLite file, or the tables in the server database [Database] names) and, when no settings
// file was found, the sample settings in the user's config folder. Every folder and file is
// checked before anything is made, and whatever was made is removed again when a later step
// fails. Folders it makes are private (0700), the files too (0600), whatever the umask.
// *done gets a line for each thing made; *error the reason nothing was.
bool InitializeDatabase(const FileLocations& files, const DatabaseSettings& database, QStringList* done,
                        QString* error);

} // namespace velmar
