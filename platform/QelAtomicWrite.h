// Replacing a file's content as one step: the new bytes go to a temporary
// file beside it, which takes the old file's place only once every byte is
// known to be on the disk. Every save of the program goes through here.
#pragma once

#include <QByteArray>
#include <QString>

// Replaces FileName's content with Data. False, with Error naming the file
// and the reason, when anything fails (the folder cannot be written, the
// disk is full, the file is a folder); the old file then stays as it was,
// byte for byte, and no temporary file is left behind.
bool QelWriteFileAtomically(const QString& FileName, const QByteArray& Data, QString& Error);
