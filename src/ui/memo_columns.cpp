#include "ui/memo_columns.h"

#include <QFontMetricsF>
#include <QList>
#include <QPlainTextEdit>
#include <QStringList>
#include <QTextDocument>
#include <QTextOption>

namespace wtk {

MemoColumns::MemoColumns(QPlainTextEdit* memo) : memo_(memo) {}

void MemoColumns::Fit(const QString& line) {
    if (memo_->document()->isEmpty() && !widths_.empty()) {
        widths_.clear();
        SetTabs();
    }
    const QStringList cells = line.split(QLatin1Char('\t'));
    const QFontMetricsF metrics(memo_->font());
    const qreal gap = metrics.horizontalAdvance(QLatin1Char(' ')) + 1;
    bool wider = false;
    for (qsizetype k = 0; k + 1 < cells.size(); ++k) {
        const qreal width = metrics.horizontalAdvance(cells[k]) + gap;
        if (static_cast<size_t>(k) >= widths_.size()) widths_.resize(static_cast<size_t>(k) + 1, 0);
        if (width > widths_[static_cast<size_t>(k)]) {
            widths_[static_cast<size_t>(k)] = width;
            wider = true;
        }
    }
    if (wider) SetTabs();
}

qreal MemoColumns::ColumnStart(int column) const {
    qreal x = 0;
    for (int k = 0; k < column && static_cast<size_t>(k) < widths_.size(); ++k) {
        x += widths_[static_cast<size_t>(k)];
    }
    return x;
}

void MemoColumns::SetTabs() {
    QTextOption option = memo_->document()->defaultTextOption();
    QList<QTextOption::Tab> tabs;
    qreal x = 0;
    for (const qreal width : widths_) {
        x += width;
        tabs.append(QTextOption::Tab(x, QTextOption::LeftTab));
    }
    option.setTabs(tabs);
    memo_->document()->setDefaultTextOption(option);
}

}  // namespace wtk
