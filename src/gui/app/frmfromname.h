// The dialog "ファイル名からタグ…": a pattern, and a preview of the fields
// it gives for each selected file, or "一致しません" (no match) for a name it
// does not match. Nothing is written before Apply; Apply writes only the
// fields the pattern names, and only into the files whose names match.
#pragma once

#include "core/batch/namepattern.h"

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;

class frmFromName : public QDialog {
    Q_OBJECT

public:
    frmFromName(const QList<QByteArray> &paths, QWidget *parent = nullptr);

    // The pattern typed now.
    const batch::NamePattern &pattern() const { return pattern_; }

    QLineEdit *txtPattern = nullptr;
    QTableView *grdPreview = nullptr;
    QLabel *lblStatus = nullptr;
    QPushButton *cmdApply = nullptr;
    QPushButton *cmdCancel = nullptr;

    // The text the preview shows, for tests: row, then column.
    QString previewText(int row, int column) const;

private:
    void patternChanged();

    class Preview;
    Preview *preview_ = nullptr;
    batch::NamePattern pattern_;
};
