#pragma once
// Configuration of the emulator: an INI file (-c) and command-line options
// that override it.
//
//   [HOSTEMU]
//   LISTEN = 127.0.0.1        loopback address to listen on (127.x.x.x or ::1)
//   PORT = 0                  0: a free port, printed on the first line of stdout
//   CODEPAGE = 17             EBCDIC table 0 to 36, numbered as vexlink numbers them
//   MEMBERS = VEXSTC          started-task member names answered; empty: any
//   CATALOG =                 catalogue directory; empty: a fresh temporary
//                             one, removed when the emulator stops
//   SEED = seed               seed for an empty catalogue (see seed.h)
//   SYSNAME = EMU1            system name shown in texts
//   IDLE_TIMEOUT = 0          seconds a PC may keep the turn without sending;
//                             0: no limit
//   MAX_CONVERSATIONS = 256   conversations served at once; further PCs are
//                             refused with rc 11 (TP not available, retry)
//   TLS = NO                  YES: TLS listener for crypt modes 3 and 4
//   TLS_CERT = server.pem     certificate (chain) of the listener
//   TLS_KEY = server.key      its private key
//   TLS_CLIENT_CA = ca.pem    CAs for client certificates (mode 4)
//   TLS_SECURITY_LEVEL = -1   OpenSSL security level; below 0: its default
//
//   [USER VEXUSR1]            one section per user; none at all: anybody
//   PASSWORD = secret         password or pass phrase (compared exactly)
//   PASSCHECK = CLIENT        CLIENT: check when the PC asks for it (default);
//                             YES: always; NO: never
//   DELAY_MS = 500            fault switches for this user's conversations
//
//   [FAULTS]                  fault switches for every conversation (faults.h)
//
// Relative paths are taken relative to the directory of the INI file.

#include "faults.h"

#include <string>
#include <utility>
#include <vector>

namespace hostemu {

struct UserEntry {
    enum class Check { Client, Yes, No };
    std::string name;
    std::string password;
    Check check = Check::Client;
    std::vector<std::pair<std::string, std::string>> faultKeys;
};

struct EmuConfig {
    std::string listen = "127.0.0.1";
    int port = 0;
    int codepage = 17;
    std::vector<std::string> members;
    std::string catalogDir;
    std::string seedDir;
    std::string sysname = "EMU1";
    int idleTimeout = 0;
    int maxConversations = 256;
    bool tls = false;
    std::string tlsCert;
    std::string tlsKey;
    std::string tlsClientCa;
    int tlsSecurityLevel = -1;
    std::vector<UserEntry> users;
    Faults faults;
    bool verbose = false;

    // Reads an INI file; false with a reason.
    bool LoadIni(const std::string& path, std::string& error);
    // Command line; help is set for -h/--help. False with a reason.
    bool ParseArgs(int argc, char** argv, std::string& error, bool& help);
    // Checks the combination (loopback address, TLS files, code page).
    bool Validate(std::string& error) const;

    const UserEntry* FindUser(const std::string& name) const;
    // The global switches with the user's own on top.
    Faults FaultsFor(const std::string& user) const;
    // Adds or replaces a user.
    void AddUser(const UserEntry& user);

private:
    // The steps of LoadIni for one line: a section header, or a KEY = VALUE
    // of the current section. An empty text when the line was taken, else
    // the reason it was refused.
    std::string StartSection(const std::string& line, std::string& section, UserEntry*& user);
    std::string SetKey(const std::string& line, const std::string& section, UserEntry* user, const std::string& base);
    std::string SetHostemuKey(const std::string& key, const std::string& value, const std::string& base);
    std::string SetUserKey(UserEntry& user, const std::string& key, const std::string& value);
};

// The usage text of the command line.
const char* UsageText();

} // namespace hostemu
