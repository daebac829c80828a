// The batch edit dialog ("選択したファイルを一括編集…"): the six fields of
// the selected files, each starting at the value they all share or, where
// they differ, empty in the "(変更しない)" (keep) state, which it keeps while
// it is left empty. The fields the user changes are written into every
// selected file (a shared value emptied is cleared); the rest are left alone.
#pragma once

#include "core/batch/batchedit.h"

#include <QDialog>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

class frmBatchEdit : public QDialog {
    Q_OBJECT

public:
    frmBatchEdit(const batch::FieldValues &start, qsizetype fileCount, QWidget *parent = nullptr);

    // The fields as the dialog shows them: a field in the keep state (it
    // started so and is still empty, or the genre's "(変更しない)") holds none.
    batch::FieldValues shown() const;
    // What Apply writes: the fields changed from where they started.
    tags::FieldChanges changes() const { return batch::changedFields(start_, shown()); }

    QLineEdit *txtTrackName = nullptr;
    QLineEdit *txtArtistName = nullptr;
    QLineEdit *txtAlbumName = nullptr;
    QLineEdit *txtYear = nullptr;
    QLineEdit *txtComment = nullptr;
    QComboBox *cmbGenre = nullptr;
    QPushButton *cmdApply = nullptr;
    QPushButton *cmdCancel = nullptr;

private:
    batch::FieldValues start_;
};
