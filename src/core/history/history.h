// The history of undoable actions: the last rename batches and batches of
// tag writes, in the order they were made, kept in the user's configuration
// folder so that Undo reaches them after a restart or a crash. Each action
// is one journal file, "<number>.rename" (see RenameJournal) or
// "<number>.tags" (see TagJournal), written and flushed before the action
// touches a file. The window and the command line share it: Undo takes back
// the last action of either kind, then the one before.
#pragma once

#include "core/rename/renamejournal.h"
#include "core/history/tagjournal.h"

#include <QList>
#include <QString>

#include <atomic>

namespace history {

// The most actions kept; the oldest beyond it are forgotten.
constexpr int kKeptActions = 20;

// The history's folder: "dorvasu/history" in the user's configuration folder.
QString folder();
// Puts the history in `folder` instead (empty: back to the default).
void setFolderForTesting(const QString &folder);

enum class Kind { Renames, Tags };

// Makes room for a new action of `kind`: settles what a crash left half
// done in the last one, forgets the oldest beyond kKeptActions, and gives
// the path of the new action's journal (not made yet). Empty when the
// folder cannot be made.
// With `stop`, the settling stops between files once that is set (what is
// left is settled the next time).
QString newAction(Kind kind, const std::atomic<bool> *stop = nullptr);

// Whether there is an action to undo (actions that changed nothing, such
// as a batch whose every file failed, are forgotten).
bool canUndo();

// At start-up: puts right what a crash left half done in the last action.
void settle();

struct Undone {
    enum What { Nothing, Renames, Tags, Damaged } what = Nothing;
    Kind kind = Kind::Renames;      // the kind of the action undone (also when damaged)
    QString journal;                // the journal of the action undone
    renaming::UndoResult renames;   // for a rename batch
    QList<TagUndoFile> tags;        // for a batch of tag writes, last file first
    int tagsNotTried = 0;           // tag files left when the Undo was stopped
};

// Undoes the last action and forgets it (an action is undone once). A
// damaged journal undoes nothing and is forgotten too. With `progress`, it
// reports as it goes and stops between files when asked to; an action
// stopped so is kept, and the next Undo puts back the rest of it.
Undone undoLast(renaming::UndoProgress *progress = nullptr);

// The report of an Undo of tag writes: the files whose tags could not be
// put back (shown decoded), and why, then how many were left when the Undo
// was stopped. Empty when all went back.
QString tagUndoFailureMessage(const QList<TagUndoFile> &files, int notTried = 0);

} // namespace history
