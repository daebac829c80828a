// The history of folders in which the user added files: up to ten folders,
// oldest first, kept in the settings file between runs. The file selection
// window shows it as a drop-down list and calls these for every change.
#pragma once

#include <QByteArray>
#include <QList>

class inifile_IO;

namespace collection {

class FolderHistory {
public:
    // Folders in use; adding to a full history drops the oldest.
    static constexpr int kLimit = 10;

    // Reads the history from section "DirList", keys "00", "01", ... up to
    // the first empty one (and at most 100 keys, so a damaged settings file
    // cannot keep the window from opening). Each folder is normalised;
    // folders that are no longer usable are left out.
    void load(inifile_IO &iniFile);

    // Writes every entry under keys "00", "01", ..., then an empty key after
    // the last: keys past it are not removed, and without the empty one an
    // older, longer history would come back (as duplicates) when read.
    void save(inifile_IO &iniFile) const;

    const QList<QByteArray> &folders() const { return folders_; }

    // Index of the last entry naming `folder` (the same bytes), or -1.
    int indexOf(const QByteArray &folder) const;

    // Appends `folder` when no entry names it; returns whether it did.
    bool add(const QByteArray &folder);

    // After an add: drops the oldest entry when the history now holds one
    // more than kLimit, and says whether it did. A history read with more
    // entries than that is never shortened.
    bool dropOldestIfOverfull();

private:
    QList<QByteArray> folders_;
};

} // namespace collection
