// Folder listing and the digit test of the file-name convention.
#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>

// Attribute bits of a listed entry, as the listing filter uses them.
enum : int32_t {
    faReadOnly = 1,    // not writable by this process
    faHidden = 2,      // the name starts with "."
    faSysFile = 4,     // neither a regular file nor a directory (device, socket, fifo, broken link)
    faDirectory = 16,
    faArchive = 32,    // a regular file
    faAnyFile = 511,
};

// Clears List, then appends Folder + "/" + name for every entry of Folder (not "." or "..") whose
// name matches Mask and whose attribute bits share a bit with Attr. Mask uses "*" and "?", letter
// case ignored; "*.*" matches every name. Hidden and system entries are skipped unless Attr has
// their bit (faAnyFile lists everything). Entries come sorted by name, letter case ignored (then
// exact), so the order does not depend on the file system. A missing folder gives an empty list.
void ListFiles(const QString& Folder, QStringList& List, const QString& Mask, int32_t Attr);

// True when s is not empty and every character is a decimal digit "0".."9"; a blank anywhere
// (even around the digits) gives false.
bool AllDigits(const QString& s);

// Whether this process may replace the existing file Path with a new one: decided from its
// permission bits for our user, group or others (not with access(), which lets root write
// anything), since renaming over a file needs only the folder's permission. True when Path does
// not exist.
bool MayReplaceFile(const QString& Path);

// Writes Bytes as the whole file FileName: into a temporary file in the same folder, every write
// and an fsync checked, then renamed over FileName, which keeps its mode (and group where allowed).
// Throws TOrvixError "Unable to write <FileName>: <reason>", FileName then unchanged, also when
// MayReplaceFile refuses it.
void WriteFileWhole(const QString& FileName, const QByteArray& Bytes);
