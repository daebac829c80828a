// A drop-down list of folder paths. Long paths are shortened at their
// start, so the end of each path, where folders differ, stays readable.
#pragma once

#include <QComboBox>

namespace fileselect {

class FolderListCombo : public QComboBox {
    Q_OBJECT

public:
    explicit FolderListCombo(QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
};

} // namespace fileselect
