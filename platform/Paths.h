#pragma once

#include <string>

namespace platform {

/// The native separator of local paths ('\\' on Windows, '/' elsewhere); defined by each
/// platform's implementation.
extern const char kPathSeparator;

/// Folder of the running executable, ending with the separator.
/// Returns an empty text when the system cannot tell.
std::string programFolder();

/// The per-user roaming application-data folder, without a trailing separator.
/// Throws std::runtime_error("getSpecialPath :: " + reason) when it cannot be found.
std::string applicationDataFolder();

/// True when `path` is absolute for this system.
bool isAbsolutePath(const std::string& path);

/// The user's netrc file, where FTP clients find accounts and passwords: `~/.netrc`, or on
/// Windows `%USERPROFILE%\_netrc`. Empty when the home folder is not known.
std::string netrcPath();

/// Why the file at `path` is no place for a secret: users other than its owner may read or
/// change it (POSIX permission bits). Empty when only the owner may, and on Windows, whose
/// files carry no such bits.
std::string sharedFileProblem(const std::string& path);

}  // namespace platform

namespace platform {

/// The folder that receives the help shortcut files, ending with the separator. Beside the
/// program on Windows; elsewhere `applicationFolder`, since an installed program's folder
/// (/usr/bin, /usr/local/bin) is not the user's to write.
std::string shortcutFolder(const std::string& applicationFolder);

/// The system folder whose url.dll gives internet shortcuts their icon; empty where there is
/// none.
std::string systemFolder();

}  // namespace platform
