#pragma once
// The run's place on disk: the work directory (never a symbolic link,
// created owner-only), the one-run-per-directory lock and the database file
// (a plain file name, never reached through a link, never a file that is not
// SQLite). Checked before the conversation is opened and before a table is
// touched.

#include <string>

class WorkDir {
public:
    // Name of the lock file in the work directory.
    static constexpr const char* kLockName = "vexlink.lock";

    // The run's places as the configuration names them; every part of the
    // program builds them here, so they always agree.
    struct Paths {
        // GLOBAL.TEMP_PATH, with GLOBAL.WORK_DIR below it when that is set:
        // where the downloads, the lock and the database go.
        std::string directory;
        // Whether GLOBAL.WORK_DIR is set (only then is directory created).
        bool bWorkDirSet = false;
        // directory with SQLITE.DBNAME below it when that is set.
        std::string database;
    };
    static Paths FromConfig();

    // A database name is a plain file name: no "/", "\", ".." and no drive.
    static bool IsPlainFileName(const std::string& name);
    // True when the file holds an SQLite database or is empty (SQLite then
    // writes a new one into it).
    static bool IsSqliteOrEmpty(const std::string& path);

    // Checks and prepares directory (may be empty: the current directory;
    // created, one level, only when bCreate) and the database at dbPath,
    // takes the lock, and creates the database file (0600) when it is
    // missing. false after a level 1 line when the run must not go on (exit
    // code 8).
    static bool Prepare(const std::string& directory, bool bCreate, const std::string& dbPath);
    // True when this run created the database file (only then does the run
    // delete it at its end).
    static bool CreatedDatabase();
    // Removes the lock file and releases the lock (end of the process).
    static void Release();
};
