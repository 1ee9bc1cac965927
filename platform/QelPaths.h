// Places the program looks in: its own folder and the per-user
// application-data folder.
#pragma once

#include <QString>

// The folder of the program file, without a trailing separator. The
// environment variable VISARA_PROGRAM_DIR replaces it (tests use this to
// point at a prepared folder).
QString QelProgramDir();

// The program file's full path, in the program folder.
QString QelProgramFilePath();

// The per-user application-data folder ($XDG_CONFIG_HOME, default
// ~/.config); empty when the platform has none.
QString QelAppDataDir();
