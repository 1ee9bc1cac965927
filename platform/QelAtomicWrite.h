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

// The same replacement for a writer that opens its output by name itself
// (the print engine): Begin makes a new, empty file beside FileName, with
// the old file's permissions or those of a new file, for the writer to
// fill; Commit syncs it to the disk and puts it in FileName's place. A
// replacement that is not committed removes its temporary file, so a
// failed writer leaves the old file as it was.
class TQelAtomicReplacement {
public:
    explicit TQelAtomicReplacement(const QString& FileName);
    ~TQelAtomicReplacement();
    TQelAtomicReplacement(const TQelAtomicReplacement&) = delete;
    TQelAtomicReplacement& operator=(const TQelAtomicReplacement&) = delete;

    // False, with Error naming the file and the reason, when no temporary
    // file can be made there (a missing folder, a folder in the way).
    bool Begin(QString& Error);
    // Empty before Begin and after Commit or Cancel.
    const QString& TemporaryName() const { return FTemporary; }
    // False, with Error, when the bytes cannot be synced or the file cannot
    // take the old one's place; the temporary file is then gone.
    bool Commit(QString& Error);
    void Cancel();

private:
    QString FFileName;
    QString FTemporary;
};
