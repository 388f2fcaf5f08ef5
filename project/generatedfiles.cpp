#include "configmodul.h"

#include <cstdio>
#include <fstream>

// The two ready-made files that -g and -x write into the current directory.
// Both are fixed texts: nothing of the current configuration goes into them.

namespace {

// The default INI file; its comments document the keys for the user. Four
// comment lines ("; YES|NO ", TCPCRYPT 3 and 4, SQLITE "; default=30 ") end
// with a blank that belongs to the text.
const char* const kIniLines[] = {
    "; vexlink.ini",
    "; the configuration file for vexlink.exe and its PHP interface",
    "; run vexlink.exe -h to get more details",
    "; run vexlink.exe -g to generate this ini file with default values",
    "",
    "[GLOBAL]",
    "; specifiy amount of the output",
    "; default=1",
    "; max=5",
    "MSGLEVEL=1",
    "",
    "; absolute path where is stored vexlink.exe",
    "; for PHP interface only",
    "VEXLINK_PATH=c:\\TALVERIX\\vexlink\\bin",
    "",
    "; temporary work dir for file and signal transfering",
    "; default=blank which means the same as VEXLINK_PATH",
    "TEMP_PATH=c:\\TALVERIX\\vexlink\\log",
    "",
    "; temporary work dir for file and signal transfering",
    "; default=blank which means the same as TEMP_PATH",
    "WORK_DIR=",
    "",
    "; where to store logs",
    "; default=blank which means the same as VEXLINK_PATH",
    "LOG_PATH=c:\\TALVERIX\\vexlink\\log",
    "",
    "; specify code page of z/OS",
    "; to get all possibilities run vexlink.exe -t",
    "; specify while string or codepage interger representation",
    "; default=17 or default=\"Austria, Germany (IBM-1141)\"",
    "CODEPAGE=\"Austria, Germany (IBM-1141)\"",
    "",
    "; special options to upload/download files in hex image",
    ";UPLOAD_FORMAT=HEX",
    ";DOWNLOAD_FORMAT=HEX",
    "",
    "[TCP]",
    "; if set to YES then debug of TCPIP output to wiretrace.log is generated",
    "; tcplogger.xml must exists, use -x argument to generate one, ask administrator for details",
    "; tcplogger.xml must be placed in WORK_DIR",
    "; YES|NO",
    "; default=NO",
    "TCPDEBUG=NO",
    "",
    "; specify server ip address here, if you do not use ip address as program argument",
    ";IP_ADDR=192.168.1.22",
    "",
    "; specify server ip port here, if you do not use ip port as program argument",
    ";HOST_PORT=15200",
    "",
    "; TCPTLSSECLEVEL - OpenSSL security level.",
    "; 1 = default, ensure basic security.Higher values increase security.",
    "; default=1",
    "TCPTLSSECLEVEL=1",
    "",
    "; specify STC on z/OS",
    "; ask z/OS administrator to the right STC member",
    "MEMBER=TLXJOBSV",
    "",
    "; if set to YES then the user name is used as a stepname in the task started on the host",
    "; YES|NO ",
    "; default=YES",
    "USERISSTEPNAME=YES",
    "",
    "; encoding communication type",
    "; 1 = default, strong password encryption. Passwords on the host can have up to 8 or 14 - 100 characters. No TLS.",
    "; 2 = reserved, not used",
    "; 3 = strong password and data encryption with TLS. Passwords (1-8) and passphrases (14-100) are supported. It "
    "requires TLXTLSM module on the host. ",
    "; 4 = strong password and data encryption with TLS - encrypted by using client authentication. ",
    "TCPCRYPT=1",
    "",
    "; Specify the Common Name of the server certificate",
    "; only for TCPCRYPT=3",
    "; default=*",
    "; As soon as you replaced the certificate by your own one: Specify appropriately",
    "TCPCOMMONNAME=*",
    "",
    "; Specifies the file containing the trusted certificates to use during server authentication.",
    "; The certificates can be concatenated and need to be in PEM format.",
    "; If the value is empty the Windows Certificate Store (Trusted Root Certification Authorities) is used instead.",
    "; Please make sure the root certificate of the server certificate can be found either in the file specified or "
    "the Windows Certificate Store.",
    "; only for TCPCRYPT=3",
    "; default=tlx-ca-store.pem",
    "TCPPEMCA=tlx-ca-store.pem",
    "",
    "; specify whether password is checked with RACF, otherwise only user is checked with RACF",
    "; YES|NO",
    "; default=YES",
    "PASCHK=YES",
    "",
    "[FTP]",
    "; the communication timeout, if expired then vexlink is automaticaly closed",
    "; value in seconds",
    "; default=30",
    "T0=30",
    "",
    "; the establish connection timeout, if expired then vexlink is automaticaly closed",
    "; value in seconds",
    "; default=60",
    "T1=60",
    "",
    "; the list limit specify maximum number of returned rows for PO and PS list",
    "; value in returned rows",
    "; default=0",
    "LISTLIMIT=0",
    "",
    "[SQLITE]",
    "; busy timeout if table is locked",
    "; in seconds",
    "; default=30 ",
    "T0=30",
    "",
    "; specify sqlite db file name",
    "DBNAME=phpqueue.db",
};

// The conversation library's trace configuration.
const char* const kLoggerXmlLines[] = {
    "<?xml version='1.0' encoding='ASCII'?>",
    "<talverix>",
    "  <logger type='library' program='wiretrace'>",
    "    <target level='9' formatter='line' sender='file'",
    "             include='file;line;time'",
    "             exclude='level;msgNr;runNr;class;method;program;node' >",
    "      <file pathMask='*.log' />",
    "    </target>",
    "  </logger>",
    "</talverix>",
};

// Writes the lines to name (replacing an existing file), each followed by a
// line end and a flush, the last one without a line end when lastLineEnd is
// false. A file that cannot be created is not reported.
template <size_t N> void WriteLines(const char* name, const char* const (&lines)[N], bool lastLineEnd)
{
    std::ofstream out(name, std::ios::out | std::ios::trunc);
    for (size_t i = 0; i < N; ++i) {
        out << lines[i];
        if (i + 1 < N || lastLineEnd)
            out << std::endl;
        else
            out.flush();
    }
    out.close();
}

} // namespace

void ConfigModul::GenerateIni()
{
    WriteLines("vexlink.ini", kIniLines, true);
    std::fputs("\nThe new vexlink.ini file has been generated\n", stdout);
}

void ConfigModul::GenerateLoggerXml()
{
    WriteLines("tcplogger.xml", kLoggerXmlLines, false);
    std::fputs("\nThe new tcplogger.xml file has been generated\n", stdout);
}
