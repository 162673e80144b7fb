// The release's version, written here once: the version records of Wendle.exe and alarmsend.exe
// and the manifest take it from here, and so does the installer package, which tools/make-msi.sh
// refuses to build from programs that carry another.
//
// Windows Installer counts an installed program as one it replaces, and so a running Wendle as
// one to close and start again, only when the package brings a higher file version (all four
// fields count): every release raises the version.
#pragma once

#define WENDLE_VERSION_MAJOR 1
#define WENDLE_VERSION_MINOR 0
#define WENDLE_VERSION_BUILD 0
#define WENDLE_VERSION_REVISION 1

#define WENDLE_VERSION_NUMBERS WENDLE_VERSION_MAJOR, WENDLE_VERSION_MINOR, WENDLE_VERSION_BUILD, WENDLE_VERSION_REVISION
#define WENDLE_STRINGIZE_(text) #text
#define WENDLE_STRINGIZE(text) WENDLE_STRINGIZE_(text)
#define WENDLE_VERSION_TEXT \
    WENDLE_STRINGIZE(WENDLE_VERSION_MAJOR.WENDLE_VERSION_MINOR.WENDLE_VERSION_BUILD.WENDLE_VERSION_REVISION)
