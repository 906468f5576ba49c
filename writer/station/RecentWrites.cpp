#include "RecentWrites.h"

#include <QHeaderView>
#include <QVBoxLayout>

#include "StationLabel.h"

namespace morven {

RecentWrites::RecentWrites(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    Totals = StationLabel(1.4, true);
    layout->addWidget(Totals);
    List = new QTreeWidget;
    List->setAccessibleName(tr("Last writes"));
    List->setHeaderLabels({tr("Time"), tr("Port"), tr("Value"), tr("Outcome")});
    List->setRootIsDecorated(false);
    List->setSelectionMode(QAbstractItemView::NoSelection);
    List->header()->setStretchLastSection(true);
    List->setMinimumHeight(List->fontMetrics().height() * (Kept + 3));
    layout->addWidget(List);
    ShowTotals();
}

void RecentWrites::Add(const WriteResult& result) {
    if (result.outcome == WriteOutcome::Ok)
        ++passed;
    else if (result.Cancelled())
        ++interrupted;
    else
        ++failed;
    ShowTotals();
    auto* row = new QTreeWidgetItem(
        {result.started.toLocalTime().toString(QStringLiteral("HH:mm:ss")), result.board.name,
         result.unitNumber.isEmpty() ? QStringLiteral("—") : result.unitNumber, result.text});
    List->insertTopLevelItem(0, row);
    while (List->topLevelItemCount() > Kept) delete List->takeTopLevelItem(Kept);
    for (int column = 0; column < 3; ++column) List->resizeColumnToContents(column);
}

void RecentWrites::ShowTotals() {
    const int judged = passed + failed;
    const QString yield = judged == 0
                              ? QStringLiteral("—")
                              : QString::number(100.0 * passed / judged, 'f', 1) + QStringLiteral(" %");
    QString text = tr("Passed %1    Failed %2    Yield %3").arg(passed).arg(failed).arg(yield);
    if (interrupted > 0) text += tr("    Interrupted %1").arg(interrupted);
    Totals->setText(text);
    Totals->setAccessibleName(tr("Totals: %1").arg(text));
}

}  // namespace morven
