# The source files of the libraries, named once: the main build and the fuzz
# build (a project of its own, compiled again with clang) both take them
# from here. Paths are absolute.
set(_root ${CMAKE_CURRENT_LIST_DIR}/..)

# Support library: byte string, XML document, INI reader with hooks, the
# logging framework and the small platform layer under all of them.
set(VEXLINK_SUPPORT_SOURCES
  platform/platform.cpp platform/platform_windows.cpp
  string/printfdirective.cpp string/string.cpp
  xml/attribute.cpp xml/configfile.cpp xml/document.cpp xml/entities.cpp xml/inifile.cpp
  xml/inifileinfolist.cpp xml/inihook.cpp xml/inisection.cpp xml/node.cpp
  logger/core.cpp logger/filesender.cpp logger/formatter.cpp logger/formatter2line.cpp logger/formatter2xml.cpp
  logger/logger.cpp logger/sender.cpp logger/sender2cyclicfiles.cpp logger/sender2db.cpp logger/sender2file.cpp
  logger/sender2stderr.cpp logger/sender2stdout.cpp logger/sender2test.cpp logger/target.cpp)
list(TRANSFORM VEXLINK_SUPPORT_SOURCES PREPEND ${_root}/src/)

# The code page tables and the translation object (program and emulator).
set(VEXLINK_CODEPAGE_SOURCES ${_root}/project/translate.cpp ${_root}/project/codepagetables.cpp)

# The program's classes: everything of project/ but main.cpp and the code pages.
set(VEXLINK_CORE_SOURCES
  blockSocket.cpp codepagechoice.cpp configlimits.cpp configmodul.cpp elog.cpp exchange.cpp ftpitem.cpp
  ftpitemshosttopc.cpp ftpitemspctohost.cpp ftpline.cpp ftpmodul.cpp generatedfiles.cpp globals.cpp
  iniparser.cpp mysqlite.cpp simpleoptions.cpp socketftp.cpp task.cpp trash.cpp wakeup.cpp workdir.cpp)
list(TRANSFORM VEXLINK_CORE_SOURCES PREPEND ${_root}/project/)

# The conversation library: the PC calls (cm_*) and the host side (wch_*).
set(WIRECOMM_PC_SOURCES
  client.cpp connection.cpp crypto.cpp frame.cpp rc2str.cpp receivebuffer.cpp sendbuffer.cpp sockets.cpp trace.cpp)
list(TRANSFORM WIRECOMM_PC_SOURCES PREPEND ${_root}/wirecomm/src/)
set(WIRECOMM_HOST_SOURCES ${_root}/wirecomm/src/host.cpp)
unset(_root)
