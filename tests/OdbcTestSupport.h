// A test-local ODBC configuration (never the machine's own): a folder of this
// process with its own driver list (ODBCSYSINI) and data sources (ODBCINI), and a
// PostgreSQL server of a test's own on a private socket.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "TestSupport.h"

namespace odbctest {

// The first of the Debian folders holding an ODBC driver file.
inline std::string DriverFile(const char* name) {
    for (const char* dir : {"/usr/lib/x86_64-linux-gnu/odbc/", "/usr/lib/aarch64-linux-gnu/odbc/",
                            "/usr/lib/odbc/"}) {
        if (std::filesystem::exists(std::string(dir) + name))
            return std::string(dir) + name;
    }
    return name;
}

// Points unixODBC at a configuration of this process's own, once; forked children
// inherit it. The folder goes when the process that made it ends.
inline void UseTestConfiguration() {
    struct Config {
        std::filesystem::path dir;
        pid_t owner = getpid();
        Config() {
            std::string pattern =
                (std::filesystem::temp_directory_path() / "eegfile-odbc-XXXXXX").string();
            if (!::mkdtemp(pattern.data()))
                return;
            dir = pattern;
            std::ofstream(dir / "odbcinst.ini")
                << "[SQLite3]\nDriver=" << DriverFile("libsqlite3odbc.so") << "\n\n"
                << "[PostgreSQL ANSI]\nDriver=" << DriverFile("psqlodbca.so") << "\n";
            // No system data sources; the user's are the ones the tests register.
            std::ofstream(dir / "odbc.ini") << "";
            std::ofstream(dir / "user.ini") << "";
            ::setenv("ODBCSYSINI", dir.c_str(), 1);
            ::setenv("ODBCINI", (dir / "user.ini").c_str(), 1);
        }
        ~Config() {
            std::error_code ec;
            if (getpid() == owner && !dir.empty())  // not a child leaving through exit()
                std::filesystem::remove_all(dir, ec);
        }
    };
    static Config config;
}

// Runs a PostgreSQL program, as an unprivileged user when this is root (the server
// refuses root); its exit status.
inline int RunAsNobody(const std::string& command) {
    const std::string as =
        getuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "";
    return std::system(
        (as + "env -i PATH=/usr/bin:/bin LC_ALL=C " + command + " >/dev/null 2>&1").c_str());
}

// A PostgreSQL server of its own, listening only on a socket in its folder, with
// the user "eeg" trusted; stopped and removed with the object.
class PostgresServer {
public:
    PostgresServer() {
        for (const auto& entry : std::filesystem::directory_iterator("/usr/lib/postgresql")) {
            if (std::filesystem::exists(entry.path() / "bin/initdb"))
                m_bin = (entry.path() / "bin/").string();
        }
        if (m_bin.empty())
            return;
        std::filesystem::permissions(m_dir.path(), std::filesystem::perms::all);
        std::filesystem::create_directory(Socket());
        if (getuid() == 0 && std::system(("chown -R 65534:65534 " + m_dir.path().string()).c_str()))
            return;
        m_running = RunAsNobody(m_bin + "initdb -D " + m_dir.File("data") +
                                " -A trust -U eeg --no-sync") == 0 &&
                    RunAsNobody(m_bin + "pg_ctl -D " + m_dir.File("data") + " -o \"-k " + Socket() +
                                " -c listen_addresses= -c fsync=off\" -l " +
                                m_dir.File("server.log") + " -w start") == 0;
    }
    ~PostgresServer() {
        if (m_running)
            RunAsNobody(m_bin + "pg_ctl -D " + m_dir.File("data") + " -m fast -w stop");
    }
    bool Running() const { return m_running; }
    std::string Socket() const { return m_dir.File("sock"); }

private:
    testsupport::TempDir m_dir;
    std::string m_bin;
    bool m_running = false;
};

}  // namespace odbctest
