#include "windows/quick_send/rules_page.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>

#include "windows/quick_send/controls.h"

namespace varnok {

using engine::QuickSender;
using quick_send::editableItem;
using quick_send::q;
using quick_send::readOnlyItem;

RulesPage::RulesPage(engine::QuickSendKeeper& keeper, engine::QuickSender& sender, QWidget* parent)
    : BookPage(keeper, sender, parent) {
    rulesOnBox = new QCheckBox(QStringLiteral("Answer by these rules"), this);
    rulesOnBox->setChecked(sender_.rulesEnabled());
    rulesTable = new QTableWidget(0, 6, this);
    rulesTable->setHorizontalHeaderLabels({QStringLiteral("On"), QStringLiteral("Kind"),
                                           QStringLiteral("Pattern"), QStringLiteral("Answer"),
                                           QStringLiteral("Delay (ms)"), QStringLiteral("Fired")});
    rulesTable->horizontalHeader()->setSectionResizeMode(2, QHeaderView::Stretch);
    rulesTable->setToolTip(QStringLiteral("Kind: Text (with escapes), Hex or Regex; Answer: "
                                          "the name of an entry"));
    answersBox = quick_send::spin(1'000'000, quicksend::RateLimit::kDefaultPerSecond, "", this);
    answersBox->setMinimum(1);
    answersBox->setToolTip(QStringLiteral("A rule that fires more often in one second switches "
                                          "itself off (an echoing device would fire it without "
                                          "end)"));
    auto* add = quick_send::button("Add rule", this);
    add->setObjectName(QStringLiteral("AddRule"));
    auto* remove = quick_send::button("Remove rule", this);
    lay(add, remove);
    wire(add, remove);
}

void RulesPage::lay(QPushButton* add, QPushButton* remove) {
    auto* rb = new QHBoxLayout;
    rb->addWidget(rulesOnBox);
    rb->addSpacing(16);
    rb->addWidget(new QLabel(QStringLiteral("At most"), this));
    rb->addWidget(answersBox);
    rb->addWidget(new QLabel(QStringLiteral("answers a second per rule"), this));
    rb->addStretch();
    rb->addWidget(add);
    rb->addWidget(remove);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(rulesTable, 1);
    layout->addLayout(rb);
}

void RulesPage::wire(QPushButton* add, QPushButton* remove) {
    connect(rulesOnBox, &QCheckBox::toggled, &sender_, &QuickSender::setRulesEnabled);
    connect(answersBox, &QSpinBox::valueChanged, this, [this](int perSecond) {
        if (showing_ || perSecond == book_.answersPerSecond)
            return;
        book_.answersPerSecond = perSecond;
        emit edited();
    });
    connect(add, &QPushButton::clicked, this, [this] {
        if (!book_.addRule())
            return;
        emit edited();
        showRules();
    });
    connect(remove, &QPushButton::clicked, this, [this] {
        const int row = rulesTable->currentRow();
        if (row < 0)
            return;
        book_.rules.erase(book_.rules.begin() + row);
        emit edited();
        showRules();
    });
    connect(rulesTable, &QTableWidget::itemChanged, this, &RulesPage::rulesEdited);
    connect(&sender_, &QuickSender::ruleFired, this, [this](int rule, int count) {
        const QSignalBlocker quiet(rulesTable); // a count is not an edit
        if (QTableWidgetItem* item = rulesTable->item(rule, 5))
            item->setText(QString::number(count));
    });
    connect(&sender_, &QuickSender::rulesEnabledChanged, rulesOnBox, &QCheckBox::setChecked);
    connect(&sender_, &QuickSender::ruleSwitchedOff, this, [this](int rule) {
        const QSignalBlocker quiet(rulesTable); // the keeper has it off in the book
        if (QTableWidgetItem* item = rulesTable->item(rule, 0))
            item->setCheckState(Qt::Unchecked);
    });
}

void RulesPage::showRules() {
    // Filling the table is not editing it.
    const QSignalBlocker quiet(rulesTable);
    showing_ = true;
    answersBox->setValue(book_.answersPerSecond);
    rulesTable->setRowCount(int(book_.rules.size()));
    for (int i = 0; i < int(book_.rules.size()); ++i) {
        const engine::AnswerRule& r = book_.rules[std::size_t(i)];
        auto* on = readOnlyItem({});
        on->setFlags(on->flags() | Qt::ItemIsUserCheckable);
        on->setCheckState(r.enabled ? Qt::Checked : Qt::Unchecked);
        rulesTable->setItem(i, 0, on);
        rulesTable->setItem(i, 1, editableItem(engine::kindName(r.pattern.kind)));
        rulesTable->setItem(i, 2, editableItem(q(r.pattern.text)));
        rulesTable->setItem(i, 3, editableItem(q(r.entry)));
        rulesTable->setItem(i, 4, editableItem(QString::number(r.delayMs)));
        rulesTable->setItem(i, 5, readOnlyItem(QString::number(sender_.firedCount(i))));
    }
    showing_ = false;
}

void RulesPage::rulesEdited() {
    if (showing_)
        return;
    bool onlySwitches = true;
    for (int i = 0; i < rulesTable->rowCount() && i < int(book_.rules.size()); ++i) {
        engine::AnswerRule& r = book_.rules[std::size_t(i)];
        if (!rulesTable->item(i, 0) || !rulesTable->item(i, 4))
            continue;
        const bool on = rulesTable->item(i, 0)->checkState() == Qt::Checked;
        if (on != r.enabled)
            keeper_.setRuleEnabled(i, on); // switched without losing the counts
        engine::AnswerRule typed = r;
        typed.pattern.kind = engine::kindNamed(rulesTable->item(i, 1)->text());
        typed.pattern.text = rulesTable->item(i, 2)->text().toStdU16String();
        typed.entry = rulesTable->item(i, 3)->text().toStdU16String();
        typed.delayMs = std::max(0, rulesTable->item(i, 4)->text().toInt());
        if (!(typed == r)) {
            r = typed;
            onlySwitches = false;
        }
    }
    if (!onlySwitches)
        emit edited();
}

} // namespace varnok
