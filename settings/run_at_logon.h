#pragma once
// Run at log-on: an XDG autostart entry, $XDG_CONFIG_HOME/autostart/quorvane.desktop, that starts
// this program when the user logs on. Written when no stored settings could be loaded; nothing
// removes it, and the runAtStartup setting does not touch it.

#include <string>

#include "platform/file_ops.h"

namespace quorvane {

// The entry's text for a program at exePath, its Exec line quoted as desktop entries require.
std::string AutostartEntry(const std::string& exePath);
// Where the entry goes.
std::string AutostartEntryPath();

// Writes the entry for this program (its path from /proc/self/exe). Failures are not reported:
// always returns 1.
int RegisterRunAtLogon();
// The same for a given program path, through the given file operations.
int RegisterRunAtLogon(const std::string& exePath, FileOps& ops);

}  // namespace quorvane
