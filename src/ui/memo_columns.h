// Tab-separated lines of a memo shown as columns: each column as wide as the widest of its
// cells (and a little more), so that every cell of a line stands under its heading's and no
// cell is pushed past a tab stop it has outgrown.
#pragma once

#include <QString>
#include <vector>

class QPlainTextEdit;

namespace wtk {

class MemoColumns {
public:
    explicit MemoColumns(QPlainTextEdit* memo);

    // Widens the columns that the cells of line, about to be appended, need. A memo that was
    // emptied starts again with columns of no width.
    void Fit(const QString& line);
    // Where column `column` (from 0) begins, in pixels.
    qreal ColumnStart(int column) const;

private:
    void SetTabs();

    QPlainTextEdit* memo_;
    std::vector<qreal> widths_;  // of each column but the last, with the gap after it
};

}  // namespace wtk
