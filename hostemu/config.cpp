#include "config.h"

#include "names.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace hostemu {

namespace {

std::string DirOf(const std::string& path)
{
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string Resolve(const std::string& base, const std::string& path)
{
    if (path.empty() || path[0] == '/')
        return path;
    return base + "/" + path;
}

bool ParseInt(const std::string& text, int min, int max, int& out)
{
    const std::string t = TrimBlanks(text);
    const bool neg = !t.empty() && t[0] == '-';
    uint64_t digits = 0;
    if (t.size() > 10 || !ParseDecimal(t.substr(neg ? 1 : 0), digits, UINT64_MAX, 10))
        return false;
    const long long v = neg ? -static_cast<long long>(digits) : static_cast<long long>(digits);
    if (v < min || v > max)
        return false;
    out = static_cast<int>(v);
    return true;
}

std::vector<std::string> SplitList(const std::string& text)
{
    std::vector<std::string> out;
    std::string cur;
    for (char c : text + ",") {
        if (c == ',' || c == ' ' || c == '\t' || c == ';') {
            if (!cur.empty())
                out.push_back(UpperAscii(cur));
            cur.clear();
        } else {
            cur += c;
        }
    }
    return out;
}

bool IsLoopback(const std::string& address)
{
    return address.compare(0, 4, "127.") == 0 || address == "::1";
}

} // namespace

const char* UsageText()
{
    return "Usage: vexlink-hostemu [-c FILE] [-l ADDRESS] [-p PORT] [--catalog DIR] [--seed DIR]\n"
           "                       [--codepage N] [--user NAME=PASSWORD]... [--fault KEY=VALUE]...\n"
           "                       [-v] [-h]\n"
           "  -c FILE            configuration (INI); options below override it\n"
           "  -l ADDRESS         loopback address to listen on (default 127.0.0.1)\n"
           "  -p PORT            port; 0 picks a free one (default); the port in use is\n"
           "                     printed on the first line of standard output\n"
           "  --catalog DIR      catalogue directory (kept); default: a temporary one\n"
           "  --seed DIR         seed for an empty catalogue\n"
           "  --codepage N       EBCDIC code page table 0 to 36 (default 17, IBM-1141)\n"
           "  --user NAME=PW     adds a user (password checked when the PC asks)\n"
           "  --fault KEY=VALUE  fault switch, e.g. DELAY_MS=500, DROP_AFTER=3\n"
           "  -v                 logs every request and answer on standard error\n"
           "Stops cleanly on SIGTERM or SIGINT.\n";
}

bool EmuConfig::LoadIni(const std::string& path, std::string& error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read " + path;
        return false;
    }
    const std::string base = DirOf(path);
    std::string line, section;
    UserEntry* user = nullptr;
    int lineNo = 0;
    while (std::getline(in, line)) {
        ++lineNo;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const std::string t = TrimBlanks(line);
        if (t.empty() || t[0] == ';' || t[0] == '#')
            continue;
        // Every refusal names the file and the line, so a typo is found at once.
        const std::string problem = t[0] == '[' ? StartSection(t, section, user) : SetKey(t, section, user, base);
        if (!problem.empty()) {
            error = path + ":" + std::to_string(lineNo) + ": " + problem;
            return false;
        }
    }
    return true;
}

std::string EmuConfig::StartSection(const std::string& line, std::string& section, UserEntry*& user)
{
    if (line.back() != ']')
        return "section line without ]";
    const std::string name = TrimBlanks(line.substr(1, line.size() - 2));
    const std::string upper = UpperAscii(name);
    user = nullptr;
    if (upper.compare(0, 5, "USER ") == 0) {
        UserEntry u;
        u.name = UpperAscii(TrimBlanks(name.substr(5)));
        if (u.name.empty())
            return "[USER] needs a user name";
        AddUser(u);
        for (UserEntry& e : users)
            if (e.name == u.name)
                user = &e;
        section = "USER";
    } else if (upper == "HOSTEMU" || upper == "FAULTS") {
        section = upper;
    } else {
        return "unknown section [" + name + "]";
    }
    return std::string();
}

std::string EmuConfig::SetKey(const std::string& line, const std::string& section, UserEntry* user,
                              const std::string& base)
{
    const size_t eq = line.find('=');
    if (eq == std::string::npos)
        return "expected KEY = VALUE";
    const std::string key = UpperAscii(TrimBlanks(line.substr(0, eq)));
    const std::string value = TrimBlanks(line.substr(eq + 1));
    if (section == "HOSTEMU")
        return SetHostemuKey(key, value, base);
    if (section == "FAULTS") {
        std::string why;
        return faults.Set(key, value, why) ? std::string() : why;
    }
    if (section == "USER" && user != nullptr)
        return SetUserKey(*user, key, value);
    return "key outside a section";
}

std::string EmuConfig::SetHostemuKey(const std::string& key, const std::string& value, const std::string& base)
{
    bool ok = true;
    if (key == "LISTEN")
        listen = value;
    else if (key == "PORT")
        ok = ParseInt(value, 0, 65535, port);
    else if (key == "CODEPAGE")
        ok = ParseInt(value, 0, 36, codepage);
    else if (key == "MEMBERS")
        members = SplitList(value);
    else if (key == "CATALOG")
        catalogDir = Resolve(base, value);
    else if (key == "SEED")
        seedDir = Resolve(base, value);
    else if (key == "SYSNAME")
        sysname = UpperAscii(value);
    else if (key == "IDLE_TIMEOUT")
        ok = ParseInt(value, 0, 86400, idleTimeout);
    else if (key == "MAX_CONVERSATIONS")
        ok = ParseInt(value, 1, 1000, maxConversations);
    else if (key == "TLS")
        ok = ParseBool(value, tls);
    else if (key == "TLS_CERT")
        tlsCert = Resolve(base, value);
    else if (key == "TLS_KEY")
        tlsKey = Resolve(base, value);
    else if (key == "TLS_CLIENT_CA")
        tlsClientCa = Resolve(base, value);
    else if (key == "TLS_SECURITY_LEVEL")
        ok = ParseInt(value, -1, 5, tlsSecurityLevel);
    else
        return "unknown key " + key;
    return ok ? std::string() : "bad value for " + key;
}

std::string EmuConfig::SetUserKey(UserEntry& user, const std::string& key, const std::string& value)
{
    if (key == "PASSWORD") {
        user.password = value;
    } else if (key == "PASSCHECK") {
        const std::string v = UpperAscii(value);
        if (v == "CLIENT")
            user.check = UserEntry::Check::Client;
        else if (v == "YES")
            user.check = UserEntry::Check::Yes;
        else if (v == "NO")
            user.check = UserEntry::Check::No;
        else
            return "bad value for " + key;
    } else {
        // Any other key is a fault switch of this user alone: checked now,
        // applied when the user's conversation starts.
        Faults probe;
        std::string why;
        if (!probe.Set(key, value, why))
            return why;
        user.faultKeys.emplace_back(key, value);
    }
    return std::string();
}

bool EmuConfig::ParseArgs(int argc, char** argv, std::string& error, bool& help)
{
    help = false;
    // The configuration file comes first, so that the options override it.
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if ((a == "-c" || a == "--config") && i + 1 < argc) {
            if (!LoadIni(argv[++i], error))
                return false;
        }
    }
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc) {
                error = "option " + a + " needs a value";
                return false;
            }
            out = argv[++i];
            return true;
        };
        std::string v;
        if (a == "-h" || a == "--help") {
            help = true;
            return true;
        } else if (a == "-c" || a == "--config") {
            ++i;
        } else if (a == "-l" || a == "--listen") {
            if (!value(listen))
                return false;
        } else if (a == "-p" || a == "--port") {
            if (!value(v))
                return false;
            if (!ParseInt(v, 0, 65535, port)) {
                error = "bad port " + v;
                return false;
            }
        } else if (a == "--catalog") {
            if (!value(catalogDir))
                return false;
        } else if (a == "--seed") {
            if (!value(seedDir))
                return false;
        } else if (a == "--codepage") {
            if (!value(v))
                return false;
            if (!ParseInt(v, 0, 36, codepage)) {
                error = "code page table must be 0 to 36";
                return false;
            }
        } else if (a == "--user") {
            if (!value(v))
                return false;
            size_t eq = v.find('=');
            if (eq == std::string::npos || eq == 0) {
                error = "--user needs NAME=PASSWORD";
                return false;
            }
            UserEntry u;
            u.name = UpperAscii(v.substr(0, eq));
            u.password = v.substr(eq + 1);
            AddUser(u);
        } else if (a == "--fault") {
            if (!value(v))
                return false;
            size_t eq = v.find('=');
            std::string key = eq == std::string::npos ? v : v.substr(0, eq);
            std::string val = eq == std::string::npos ? "YES" : v.substr(eq + 1);
            if (!faults.Set(key, val, error))
                return false;
        } else if (a == "-v" || a == "--verbose") {
            verbose = true;
        } else {
            error = "unknown option " + a;
            return false;
        }
    }
    return true;
}

bool EmuConfig::Validate(std::string& error) const
{
    if (!IsLoopback(listen)) {
        error = "the emulator listens on loopback addresses only (127.x.x.x or ::1), not " + listen;
        return false;
    }
    if (tls && (tlsCert.empty() || tlsKey.empty())) {
        error = "TLS = YES needs TLS_CERT and TLS_KEY";
        return false;
    }
    return true;
}

const UserEntry* EmuConfig::FindUser(const std::string& name) const
{
    std::string upper = UpperAscii(name);
    for (const UserEntry& u : users)
        if (u.name == upper)
            return &u;
    return nullptr;
}

Faults EmuConfig::FaultsFor(const std::string& user) const
{
    Faults f = faults;
    const UserEntry* u = FindUser(user);
    if (u != nullptr) {
        std::string ignored;
        for (const auto& kv : u->faultKeys)
            f.Set(kv.first, kv.second, ignored);
    }
    return f;
}

void EmuConfig::AddUser(const UserEntry& user)
{
    for (UserEntry& u : users) {
        if (u.name == user.name) {
            u = user;
            return;
        }
    }
    users.push_back(user);
}

} // namespace hostemu
