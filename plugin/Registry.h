// The machine-wide registry the plug-in reads the program's place from,
// kept as plain text files: the key "A\B\C" of the local machine is the file
// <root>/A/B/C.ini, each line "name=value", the key's default value under
// the name "@". The root is $VISARA_REGISTRY_ROOT, or /etc/visara/registry
// when that is unset or empty.
#pragma once

#include <string>

// The folder that holds the keys.
std::string RegistryRoot();
// The file that holds Key (backslashes separate its parts).
std::string RegistryKeyFile(const std::string& Key);

// Value := the value ValueName of Key (an empty name: the key's default
// value). Default when the key's file cannot be read, the name is missing,
// or the value does not fit the 1024-byte buffer with its terminating zero.
void ReadRegistryString(const std::string& ValueName, const std::string& Default, const std::string& Key,
                        std::string& Value);
