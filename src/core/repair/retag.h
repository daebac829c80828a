// Planning a repair of garbled text and a conversion to Unicode over many
// files: what each field holds now and what it would hold after, one row
// per field that would change, and the tag writes that carry the rows out.
#pragma once

#include "core/history/tagbatch.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <atomic>

#include "core/paths/paths.h"

namespace retag {

enum class Kind {
    Repair,    // text another program decoded with the wrong code page
    Convert,   // text stored without a declared encoding, into Unicode frames
};

enum class Field { Title, Artist, Album, Comment };

// "title", "artist", "album", "comment".
QString fieldKey(Field field);

struct Row {
    QByteArray path;
    Field field = Field::Title;
    QString now;     // the text as the tag frame reads it
    QString after;   // the text written; for a conversion the same text
    // False where the reading of the text is a close call: a conversion
    // makes the reading of undeclared text lasting.
    bool sure = true;
    // How the text is stored now and after: for a repair the chain that
    // undoes the garbling ("CP932 read as Windows-1252"), for a conversion
    // the tag and encoding ("ID3v1, CP932" -> "ID3v2.3, UTF-16").
    QString storedNow, storedAfter;
};

struct FilePlan {
    QList<Row> rows;   // in field order
    QString error;     // why the file or one of its fields cannot be done
};

// The rows for one file.
FilePlan planFile(Kind kind, const QByteArray &path);

// Shared with the thread that shows progress.
struct PlanProgress {
    std::atomic<qsizetype> done{0};
    std::atomic<bool> cancel{false};
    paths::SharedPath current;
};

// The plans of `paths`, in order; with `progress`, planning stops early
// when asked to, and the result then covers only the first paths.
QList<FilePlan> planFiles(Kind kind, const QList<QByteArray> &paths, PlanProgress *progress = nullptr);

// The tag writes of `rows`, one per file, in the order of their first row:
// each field set to its text after; a conversion's fields written anew.
QList<history::TagEdit> editsFor(Kind kind, const QList<Row> &rows);

// The name of a batch of `kind` in the history of undoable actions.
QString batchLabel(Kind kind);

} // namespace retag
