#pragma once
// Where the program's files live.
//
// The folder layout is the same in the build tree, a portable bundle and an
// installation:  skin/default.nbt (read-only), html/, updates/, user.ini,
// simline.ini (written by the program).
//
//  - NEBRIN_HOME set: that folder holds everything.
//  - else the executable's folder when it holds skin/: everything there.
//  - else an installation: the read-only files under the prefix
//    (<prefix>/share/nebrin), the written ones in the user's data folder
//    ($XDG_DATA_HOME/nebrin, or ~/.local/share/nebrin).
//
// Paths are returned without a trailing slash. Thread-safe after the first call.
#include <string>

namespace nebrin {

// Folder of the running executable (from /proc/self/exe); empty when unknown.
std::string ExecutableDir();

// Folder holding skin/ (the theme package).
std::string ThemeHomeDir();

// Folder holding the files the program writes: html/, updates/, user.ini and
// the simulated line's files. Created (mode 0700) when it does not exist yet.
std::string DataHomeDir();

// The identity the single-instance rule uses: NEBRIN_HOME when set, else the
// executable's full path.
std::string InstanceIdentityPath();

// Joins two path pieces with exactly one '/'.
std::string JoinPath(const std::string& a, const std::string& b);

}  // namespace nebrin
