#pragma once

#include <QLabel>
#include <QTreeWidget>
#include <QWidget>

#include "write/WriteFlow.h"

namespace morven {

// The station's totals since the window opened (passed, failed, yield) and its last few writes:
// time, port, value and outcome. An interrupted write counts for neither: the board was not
// judged, and is written again.
class RecentWrites : public QWidget {
    Q_OBJECT

public:
    static constexpr int Kept = 6;

    explicit RecentWrites(QWidget* parent = nullptr);

    void Add(const WriteResult& result);

    int passed = 0;
    int failed = 0;
    int interrupted = 0;
    QLabel* Totals;
    QTreeWidget* List;

private:
    void ShowTotals();
};

}  // namespace morven
