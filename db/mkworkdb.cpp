// Build-time generator of the working database: runs a schema file into a fresh SQLite file.
#include <sqlite3.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: mkworkdb SCHEMA.sql OUTPUT\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "mkworkdb: cannot read %s\n", argv[1]);
        return 1;
    }
    std::stringstream sql;
    sql << in.rdbuf();
    const std::string out = argv[2];
    const std::string tmp = out + ".tmp";
    std::remove(tmp.c_str());
    sqlite3* db = nullptr;
    if (sqlite3_open(tmp.c_str(), &db) != SQLITE_OK) {
        std::fprintf(stderr, "mkworkdb: cannot create %s\n", tmp.c_str());
        return 1;
    }
    char* err = nullptr;
    if (sqlite3_exec(db, sql.str().c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
        std::fprintf(stderr, "mkworkdb: %s\n", err ? err : "schema failed");
        sqlite3_free(err);
        sqlite3_close(db);
        return 1;
    }
    sqlite3_close(db);
    if (std::rename(tmp.c_str(), out.c_str()) != 0) {
        std::fprintf(stderr, "mkworkdb: cannot write %s\n", out.c_str());
        return 1;
    }
    return 0;
}
