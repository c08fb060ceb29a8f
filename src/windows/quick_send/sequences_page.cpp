#include "windows/quick_send/sequences_page.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>

#include "windows/quick_send/controls.h"

namespace varnok {

using engine::QuickSender;
using quick_send::button;
using quick_send::editableItem;
using quick_send::q;

SequencesPage::SequencesPage(engine::QuickSendKeeper& keeper, engine::QuickSender& sender,
                             QWidget* parent)
    : BookPage(keeper, sender, parent) {
    sequenceList = new QListWidget(this);
    sequenceName = new QLineEdit(this);
    runsBox = quick_send::spin(1'000'000, 1, " times", this);
    runsBox->setSpecialValueText(QStringLiteral("until stopped"));
    stepsTable = new QTableWidget(0, 2, this);
    stepsTable->setHorizontalHeaderLabels(
        {QStringLiteral("Entry"), QStringLiteral("Delay after (ms)")});
    stepsTable->horizontalHeader()->setStretchLastSection(true);
    stepsTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    runButton = button("Run", this);
    stopButton = button("Stop", this);
    stopButton->setEnabled(sender_.runningSequence() >= 0);
    auto* add = button("Add", this);
    auto* remove = button("Remove", this);
    auto* addStep = button("Add step", this);
    auto* removeStep = button("Remove step", this);
    lay(add, remove, addStep, removeStep);
    wire(add, remove, addStep, removeStep);
}

void SequencesPage::lay(QPushButton* add, QPushButton* remove, QPushButton* addStep,
                        QPushButton* removeStep) {
    auto* left = new QVBoxLayout;
    left->addWidget(sequenceList, 1);
    auto* lb = new QHBoxLayout;
    lb->addWidget(add);
    lb->addWidget(remove);
    left->addLayout(lb);
    auto* head = new QHBoxLayout;
    head->addWidget(new QLabel(QStringLiteral("Name"), this));
    head->addWidget(sequenceName, 1);
    head->addWidget(new QLabel(QStringLiteral("Run"), this));
    head->addWidget(runsBox);
    auto* rb = new QHBoxLayout;
    rb->addWidget(addStep);
    rb->addWidget(removeStep);
    rb->addStretch();
    rb->addWidget(runButton);
    rb->addWidget(stopButton);
    auto* right = new QVBoxLayout;
    right->addLayout(head);
    right->addWidget(stepsTable, 1);
    right->addLayout(rb);
    auto* layout = new QHBoxLayout(this);
    layout->addLayout(left, 1);
    layout->addLayout(right, 2);
}

void SequencesPage::wire(QPushButton* add, QPushButton* remove, QPushButton* addStep,
                         QPushButton* removeStep) {
    connect(sequenceList, &QListWidget::currentRowChanged, this, &SequencesPage::showSequences);
    connect(add, &QPushButton::clicked, this, [this] {
        book_.addSequence();
        emit edited();
        showSequences();
        sequenceList->setCurrentRow(static_cast<int>(book_.sequences.size()) - 1);
    });
    connect(remove, &QPushButton::clicked, this, [this] {
        const int row = sequenceList->currentRow();
        if (row < 0)
            return;
        book_.sequences.erase(book_.sequences.begin() + row);
        emit edited();
        showSequences();
    });
    connect(addStep, &QPushButton::clicked, this, [this] {
        const int row = sequenceList->currentRow();
        if (row < 0 || !book_.addStep(std::size_t(row)))
            return;
        emit edited();
        showSequences();
    });
    connect(removeStep, &QPushButton::clicked, this, [this] {
        const int row = sequenceList->currentRow(), step = stepsTable->currentRow();
        if (row < 0 || step < 0)
            return;
        auto& steps = book_.sequences[static_cast<std::size_t>(row)].steps;
        steps.erase(steps.begin() + step);
        emit edited();
        showSequences();
    });
    connect(sequenceName, &QLineEdit::textEdited, this, &SequencesPage::stepsEdited);
    connect(runsBox, &QSpinBox::valueChanged, this, &SequencesPage::stepsEdited);
    connect(stepsTable, &QTableWidget::itemChanged, this, &SequencesPage::stepsEdited);
    connect(runButton, &QPushButton::clicked, this,
            [this] { sender_.runSequence(sequenceList->currentRow()); });
    connect(stopButton, &QPushButton::clicked, &sender_, &QuickSender::stopSequence);
    connect(&sender_, &QuickSender::sequenceStep, this, [this](int sequence, int step) {
        runButton->setEnabled(step < 0);
        stopButton->setEnabled(step >= 0);
        if (sequence == sequenceList->currentRow())
            stepsTable->selectRow(step); // the step being sent; none once ended
        if (step < 0)
            stepsTable->clearSelection();
    });
}

void SequencesPage::showSequences() {
    // Filling the list and table is not editing them.
    const QSignalBlocker b1(sequenceList), b2(stepsTable);
    showing_ = true;
    const int seq = std::min(sequenceList->currentRow(), int(book_.sequences.size()) - 1);
    sequenceList->clear();
    for (const engine::Sequence& s : book_.sequences)
        sequenceList->addItem(q(s.name));
    sequenceList->setCurrentRow(seq < 0 && !book_.sequences.empty() ? 0 : seq);
    const engine::Sequence* s =
        sequenceList->currentRow() >= 0
            ? &book_.sequences[static_cast<std::size_t>(sequenceList->currentRow())]
            : nullptr;
    sequenceName->setText(s ? q(s->name) : QString());
    runsBox->setValue(s ? s->runs : 1);
    stepsTable->setRowCount(s ? int(s->steps.size()) : 0);
    for (int i = 0; s && i < int(s->steps.size()); ++i) {
        stepsTable->setItem(i, 0, editableItem(q(s->steps[std::size_t(i)].entry)));
        stepsTable->setItem(i, 1, editableItem(QString::number(s->steps[std::size_t(i)].delayMs)));
    }
    for (QWidget* w : {static_cast<QWidget*>(sequenceName), static_cast<QWidget*>(runsBox),
                       static_cast<QWidget*>(runButton)})
        w->setEnabled(s != nullptr && sender_.runningSequence() < 0);
    showing_ = false;
}

void SequencesPage::stepsEdited() {
    const int row = sequenceList->currentRow();
    if (showing_ || row < 0)
        return;
    engine::Sequence& s = book_.sequences[std::size_t(row)];
    s.name = sequenceName->text().toStdU16String();
    s.runs = runsBox->value();
    for (int i = 0; i < stepsTable->rowCount() && i < int(s.steps.size()); ++i) {
        if (!stepsTable->item(i, 0) || !stepsTable->item(i, 1))
            continue;
        s.steps[std::size_t(i)].entry = stepsTable->item(i, 0)->text().toStdU16String();
        s.steps[std::size_t(i)].delayMs = std::max(0, stepsTable->item(i, 1)->text().toInt());
    }
    sequenceList->item(row)->setText(q(s.name));
    emit edited();
}

} // namespace varnok
