// Replacing a file's content as one step: the new bytes go to a file with
// no name in the same folder, which takes the old file's place only once
// every byte is known to be on the disk. A process killed on the way
// leaves nothing behind. Every save of the program goes through here.
#pragma once

#include <QByteArray>
#include <QString>

// Replaces FileName's content with Data. False, with Error naming the file
// and the reason the system gave (the folder cannot be written, the disk is
// full, the file is a folder); the old file then stays as it was, byte for
// byte, and no temporary file is left behind.
bool QelWriteFileAtomically(const QString& FileName, const QByteArray& Data, QString& Error);

// The same replacement, step by step, also for a writer that opens its
// output by name itself (the print engine): Begin makes a new, empty file
// for FileName, with the old file's permissions or those of a new file;
// Write or the writer fills it; Commit syncs it to the disk and puts it in
// FileName's place. A replacement that is not committed leaves the old file
// as it was and nothing beside it.
class TQelAtomicReplacement {
public:
    explicit TQelAtomicReplacement(const QString& FileName);
    ~TQelAtomicReplacement();
    TQelAtomicReplacement(const TQelAtomicReplacement&) = delete;
    TQelAtomicReplacement& operator=(const TQelAtomicReplacement&) = delete;

    // False, with Error naming the file and the reason, when no new file
    // can be made there (a missing or read-only folder, a folder in the way,
    // an old file that may not be written).
    bool Begin(QString& Error);
    // The name under which a writer opens the new file (the file has no
    // name of its own where the file system allows, and this one lasts as
    // long as the replacement); empty before Begin and after Commit or Cancel.
    const QString& WriterName() const { return FWriterName; }
    // Appends Data to the new file; false, with Error, when the system does
    // not take every byte (the replacement is then cancelled).
    bool Write(const QByteArray& Data, QString& Error);
    // False, with Error, when the bytes cannot be synced or the file cannot
    // take the old one's place; the new file is then gone.
    bool Commit(QString& Error);
    void Cancel();

private:
    bool Fail(int Error, QString& Text);

    QString FFileName;
    int FHandle;
    QString FWriterName;
    // The new file's name in the folder, where it has one (a file system
    // without unnamed files, or between link and rename).
    QString FTemporary;
};
