// The preview of a repair of garbled text or of a conversion to Unicode:
// one row per field that would change (file, field, text now, text after),
// each with a check box; Apply hands back the checked rows.
#pragma once

#include "core/repair/retag.h"

#include <QDialog>

class QLabel;
class QPushButton;
class QTableWidget;

class RetagDialog : public QDialog {
    Q_OBJECT

public:
    // Rows that are not sure (a close call between two code pages) start
    // unchecked; the others checked.
    RetagDialog(retag::Kind kind, const QList<retag::Row> &rows, QWidget *parent = nullptr);

    QList<retag::Row> checkedRows() const;

    QTableWidget *tblRetag = nullptr;
    QLabel *lblCount = nullptr;
    QPushButton *cmdApply = nullptr;
    QPushButton *cmdCancel = nullptr;

private:
    void updateCount();

    QList<retag::Row> rows_;
};
