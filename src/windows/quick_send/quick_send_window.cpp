#include "windows/quick_send/quick_send_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QHideEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>
#include <functional>
#include <map>
#include <utility>

#include "logic/quicksend/escapes.h"
#include "windows/fixed_font.h"
#include "windows/main_window/message_box.h"
#include "windows/placement.h"
#include "windows/user_settings.h"

namespace varnok {

// The send buttons, six to a row, made only for the rows in sight: ten thousand buttons in a
// grid layout took half a minute to show, and painting one walked all its siblings.
class ButtonField : public QWidget {
  public:
    static constexpr int kColumns = 6;
    static constexpr int kGap = 4;
    static constexpr int kSpareRows = 4; // made beyond the edges, for a smooth scroll
    using QWidget::QWidget;
    std::function<void(QPushButton*, int)> dress; // text and state of the button of entry i
    std::function<void(int)> press;

    void setCount(int count) {
        count_ = count;
        for (auto it = made_.lower_bound(count); it != made_.end(); it = made_.erase(it))
            delete it->second;
        setMinimumHeight(rows() * (rowHeight() + kGap));
        for (auto& [i, b] : made_)
            dress(b, i);
        placeVisible();
    }

  protected:
    QSize sizeHint() const override {
        return {kColumns * 96, std::min(rows(), 3) * (rowHeight() + kGap)};
    }
    void resizeEvent(QResizeEvent* event) override {
        QWidget::resizeEvent(event);
        placeVisible();
    }
    void moveEvent(QMoveEvent* event) override { // scrolled
        QWidget::moveEvent(event);
        placeVisible();
    }

  private:
    int rows() const { return (count_ + kColumns - 1) / kColumns; }
    int rowHeight() const {
        static const int h = QPushButton(QStringLiteral("X")).sizeHint().height();
        return h;
    }
    void placeVisible() {
        const int h = rowHeight() + kGap;
        const int w = std::max(1, (width() - (kColumns - 1) * kGap) / kColumns);
        const int seen = parentWidget() ? parentWidget()->height() : height();
        const int first = std::max(0, -y() / h - kSpareRows);
        const int last = std::min(rows() - 1, (-y() + seen) / h + kSpareRows);
        for (auto it = made_.begin(); it != made_.end();) { // out of sight: gone
            const int row = it->first / kColumns;
            if (row >= first && row <= last) {
                ++it;
                continue;
            }
            delete it->second;
            it = made_.erase(it);
        }
        for (int i = first * kColumns; i < std::min(count_, (last + 1) * kColumns); ++i) {
            QPushButton*& b = made_[i];
            if (!b) {
                b = new QPushButton(this);
                b->setObjectName(QStringLiteral("Send_%1").arg(i));
                connect(b, &QPushButton::clicked, this, [this, i] { press(i); });
                dress(b, i);
                b->show();
            }
            b->setGeometry((i % kColumns) * (w + kGap), (i / kColumns) * h, w, h - kGap);
        }
    }

    int count_ = 0;
    std::map<int, QPushButton*> made_;
};

namespace {

using engine::QuickSender;
using quicksend::Entry;

// Where earlier versions kept the book, in the per-user settings; read once, then removed.
const QString kOldBookKey = QStringLiteral("quicksend/book");
const QString kGeometryKey = QStringLiteral("quicksend/geometry");
constexpr QSize kDefaultSize{760, 520};
constexpr int kPreviewBytes = 32; // shown before the preview is cut
constexpr int kButtonChars = 24;  // of an entry's name on its button
constexpr int kSaveDelayMs = 500; // edits are written to the book file at most this often

QString q(const std::u16string& s) {
    return QString::fromStdU16String(s);
}

QPushButton* button(const char* text, QWidget* parent) {
    return new QPushButton(QString::fromLatin1(text), parent);
}

QSpinBox* spin(int high, int value, const char* suffix, QWidget* parent) {
    auto* s = new QSpinBox(parent);
    s->setRange(0, high);
    s->setValue(value);
    s->setSuffix(QString::fromLatin1(suffix));
    return s;
}

QComboBox* combo(const QStringList& items, QWidget* parent) {
    auto* c = new QComboBox(parent);
    c->addItems(items);
    return c;
}

QTableWidgetItem* editableItem(const QString& text) {
    return new QTableWidgetItem(text);
}

QTableWidgetItem* readOnlyItem(const QString& text) {
    auto* item = new QTableWidgetItem(text);
    item->setFlags(item->flags() & ~Qt::ItemIsEditable);
    return item;
}

// The book's own file, beside the per-user settings (which stay small and quick to read).
QString bookPath() {
    return QFileInfo(userSettings().fileName()).absolutePath() + QStringLiteral("/quicksend.json");
}

// A question with the program's title: the index of the choice pressed, -1 for Cancel.
int ask(QWidget* parent, const QString& text, const QStringList& choices) {
    QMessageBox box(QMessageBox::Question, QString::fromLatin1(kAppTitle), text,
                    QMessageBox::Cancel, parent);
    box.setObjectName(QStringLiteral("VarnokQuestion"));
    QList<QAbstractButton*> buttons;
    for (const QString& c : choices)
        buttons << box.addButton(c, QMessageBox::AcceptRole);
    box.exec();
    return static_cast<int>(buttons.indexOf(box.clickedButton()));
}

QString uniqueName(const engine::QuickSendBook& book, const QString& stem) {
    for (int n = static_cast<int>(book.entries.size()) + 1;; ++n) {
        const QString name = stem + QString::number(n);
        if (book.entryIndex(name.toStdU16String()) < 0)
            return name;
    }
}

const QStringList kKinds{QStringLiteral("Text"), QStringLiteral("Hex"), QStringLiteral("Regex")};

// The kind typed into a rule's cell, in either case; anything else is text.
quicksend::PatternKind kindOf(const QString& typed) {
    for (int i = 0; i < kKinds.size(); ++i)
        if (typed.trimmed().compare(kKinds[i], Qt::CaseInsensitive) == 0)
            return quicksend::PatternKind(i);
    return quicksend::PatternKind::Text;
}

} // namespace

QuickSendWindow::QuickSendWindow(engine::Session& session, QWidget* parent)
    : QWidget(parent, Qt::Window), engine_(&session.terminal()), sender_(session.quickSend()) {
    setObjectName(QStringLiteral("QuickSend"));
    setWindowTitle(QStringLiteral("Quick Send"));

    auto* tabs = new QTabWidget(this);
    tabs->addTab(buildEntries(), QStringLiteral("Entries"));
    tabs->addTab(buildSequences(), QStringLiteral("Sequences"));
    tabs->addTab(buildRules(), QStringLiteral("Auto-answer"));
    tabs->addTab(buildFileAndLines(), QStringLiteral("File and lines"));
    exportButton = button("Export...", this);
    importButton = button("Import...", this);
    bookFault = new QLabel(this);
    bookFault->setObjectName(QStringLiteral("BookFault"));
    bookFault->setStyleSheet(QStringLiteral("color: #b00000"));
    bookFault->setWordWrap(true);
    // A long fault wraps within the window's width instead of widening it.
    bookFault->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(bookFault, 1);
    bottom->addWidget(importButton);
    bottom->addWidget(exportButton);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs, 1);
    layout->addLayout(bottom);
    resize(kDefaultSize);
    saveTimer_.setSingleShot(true);
    connect(&saveTimer_, &QTimer::timeout, this, &QuickSendWindow::saveBook);

    connect(exportButton, &QPushButton::clicked, this, [this] {
        const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Export Quick Send"),
                                                          {}, QStringLiteral("JSON (*.json)"));
        if (!path.isEmpty())
            exportTo(path);
    });
    connect(importButton, &QPushButton::clicked, this, [this] {
        const QString path =
            QFileDialog::getOpenFileName(this, QStringLiteral("Import Quick Send"), {},
                                         QStringLiteral("JSON (*.json);;All (*)"));
        if (!path.isEmpty())
            importFrom(path);
    });

    connect(&sender_, &QuickSender::failed, this, &QuickSendWindow::showFailure);
    connect(&sender_, &QuickSender::repeatingChanged, this, [this](int entry, bool on) {
        if (auto* b = sendButtons->findChild<QPushButton*>(QStringLiteral("Send_%1").arg(entry)))
            b->setChecked(on);
    });
    connect(&sender_, &QuickSender::ruleFired, this, [this](int rule, int count) {
        const QSignalBlocker quiet(rulesTable); // a count is not an edit
        if (QTableWidgetItem* item = rulesTable->item(rule, 5))
            item->setText(QString::number(count));
    });
    connect(&sender_, &QuickSender::rulesEnabledChanged, rulesOnBox, &QCheckBox::setChecked);
    connect(&sender_, &QuickSender::ruleSwitchedOff, this, [this](int rule) {
        book_.rules[std::size_t(rule)].enabled = false; // and stays off when the book is saved
        const QSignalBlocker quiet(rulesTable);
        if (QTableWidgetItem* item = rulesTable->item(rule, 0))
            item->setCheckState(Qt::Unchecked);
        saveTimer_.start(kSaveDelayMs);
    });
    connect(&sender_, &QuickSender::sequenceStep, this, [this](int sequence, int step) {
        runButton->setEnabled(step < 0);
        stopButton->setEnabled(step >= 0);
        if (sequence == sequenceList->currentRow())
            stepsTable->selectRow(step); // the step being sent; none once ended
        if (step < 0)
            stepsTable->clearSelection();
    });
    connect(engine_, &engine::TerminalEngine::portOpenChanged, this,
            &QuickSendWindow::followPort);
    followPort();

    // The remembered book. One kept in the settings by an earlier version moves to its own
    // file first; a book that cannot be read is set aside with one message, after the window
    // is up, and Quick Send starts empty.
    const QString path = bookPath();
    QSettings s = userSettings();
    if (s.contains(kOldBookKey)) {
        if (!QFileInfo::exists(path)) {
            QFile f(path);
            if (f.open(QIODevice::WriteOnly))
                f.write(s.value(kOldBookKey).toByteArray());
        }
        s.remove(kOldBookKey);
    }
    const QString why = engine::loadBook(path, &book_);
    if (!why.isEmpty())
        QTimer::singleShot(0, this, [this, why] { showFailure(why); });
    commit(); // and what is not in use until mended is said beneath
    showBook();
    // F1-F12 anywhere in the terminal's windows while this one is open.
    qApp->installEventFilter(this);
}

QuickSendWindow::~QuickSendWindow() {
    qApp->removeEventFilter(this);
    if (saveTimer_.isActive())
        saveBook();
    // What the window started ends with it.
    sender_.setBook({});
    sender_.stopFile();
}

void QuickSendWindow::showBeside(const QWidget* main) {
    showPlaced(*this, placed_, kGeometryKey, main, kDefaultSize);
}

void QuickSendWindow::saveBook() {
    saveTimer_.stop();
    const QString why = engine::bookToFile(bookPath(), book_);
    if (!why.isEmpty())
        bookFault->setText(QStringLiteral("The entries were not saved: ") + why);
}

bool QuickSendWindow::exportTo(const QString& path) {
    const QString why = engine::bookToFile(path, book_);
    if (!why.isEmpty())
        showFailure(QStringLiteral("%1 was not written: %2").arg(path, why));
    return why.isEmpty();
}

bool QuickSendWindow::importFrom(const QString& path) {
    engine::QuickSendBook book;
    const QString why = engine::bookFromFile(path, &book);
    if (!why.isEmpty()) {
        showFailure(QStringLiteral("%1 was not imported: %2").arg(path, why));
        return false;
    }
    if (book_.entries.empty() && book_.sequences.empty() && book_.rules.empty()) {
        book_ = std::move(book);
    } else {
        const auto entries = [](std::size_t n) {
            return n == 1 ? QStringLiteral("1 entry") : QStringLiteral("%1 entries").arg(n);
        };
        const int choice = ask(this,
                               QStringLiteral("Replace the %1 here with the %2 of %3, or add "
                                              "those to these? Added names that are taken get "
                                              "a number.")
                                   .arg(entries(book_.entries.size()), entries(book.entries.size()),
                                        QFileInfo(path).fileName()),
                               {QStringLiteral("Replace"), QStringLiteral("Add")});
        if (choice < 0)
            return false;
        if (choice == 0)
            book_ = std::move(book);
        else
            book_.add(std::move(book));
    }
    commit();
    showBook();
    return true;
}

// ---------------------------------------------------------------- building

QWidget* QuickSendWindow::buildEntries() {
    auto* page = new QWidget;
    entryList = new QListWidget(page);
    entryList->setObjectName(QStringLiteral("EntryList"));
    addEntryButton = button("Add", page);
    removeEntryButton = button("Remove", page);
    nameEdit = new QLineEdit(page);
    dataEdit = new QLineEdit(page);
    dataEdit->setFont(fixedFont(font().pointSize()));
    dataEdit->setToolTip(QStringLiteral("Text with \\r \\n \\t \\\\ \\xHH, or hex bytes "
                                        "separated by spaces"));
    formBox = combo({QStringLiteral("Text"), QStringLiteral("Hex list")}, page);
    endBox = combo({QStringLiteral("None"), QStringLiteral("CR"), QStringLiteral("LF"),
                    QStringLiteral("CR LF"), QStringLiteral("LF CR")},
                   page);
    checksumBox = new QComboBox(page);
    for (const quicksend::ChecksumInfo& c : quicksend::checksumCatalogue()) {
        checksumBox->addItem(QString::fromUtf8(c.label.data(), qsizetype(c.label.size())));
        checksumBox->setItemData(checksumBox->count() - 1,
                                 QString::fromUtf8(c.covers.data(), qsizetype(c.covers.size())),
                                 Qt::ToolTipRole);
    }
    skipFirstBox = spin(65535, 0, "", page);
    skipLastBox = spin(65535, 0, "", page);
    periodBox = spin(86'400'000, 0, " ms", page);
    periodBox->setSpecialValueText(QStringLiteral("once"));
    keyBox = new QComboBox(page);
    keyBox->addItem(QStringLiteral("none"));
    for (int k = 1; k <= 12; ++k)
        keyBox->addItem(QStringLiteral("F%1").arg(k));
    dataEdit->setMaxLength(int(4 * quicksend::kMaxEntryBytes + 4)); // the longest data read
    bytesLabel = new QLabel(page);
    bytesLabel->setObjectName(QStringLiteral("BytesPreview"));
    bytesLabel->setFont(fixedFont(font().pointSize()));
    bytesLabel->setWordWrap(true);
    bytesLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    bytesLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* range = new QHBoxLayout;
    range->addWidget(new QLabel(QStringLiteral("leave out first"), page));
    range->addWidget(skipFirstBox);
    range->addWidget(new QLabel(QStringLiteral("last"), page));
    range->addWidget(skipLastBox);
    range->addStretch();
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Name"), nameEdit);
    form->addRow(QStringLiteral("Data"), dataEdit);
    form->addRow(QStringLiteral("Data is"), formBox);
    form->addRow(QStringLiteral("End of string"), endBox);
    form->addRow(QStringLiteral("Checksum"), checksumBox);
    form->addRow(QStringLiteral("Checksum covers"), range);
    form->addRow(QStringLiteral("Repeat every"), periodBox);
    form->addRow(QStringLiteral("Key"), keyBox);
    form->addRow(QStringLiteral("Bytes"), bytesLabel);
    auto* listButtons = new QHBoxLayout;
    listButtons->addWidget(addEntryButton);
    listButtons->addWidget(removeEntryButton);
    auto* left = new QVBoxLayout;
    left->addWidget(entryList, 1);
    left->addLayout(listButtons);
    auto* top = new QHBoxLayout;
    top->addLayout(left, 1);
    top->addLayout(form, 2);
    // The buttons scroll: a thousand entries must not make the window taller than the screen.
    auto* scroll = new QScrollArea(page);
    scroll->setObjectName(QStringLiteral("SendButtonsArea"));
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    sendButtons = buttonField_ = new ButtonField(scroll);
    buttonField_->press = [this](int i) { pressEntry(i); };
    buttonField_->dress = [this](QPushButton* b, int i) {
        const Entry& e = sender_.book().entries[std::size_t(i)];
        b->setText(elideMiddle(q(e.name), kButtonChars) +
                   (e.key ? QStringLiteral(" (F%1)").arg(e.key) : QString()));
        b->setCheckable(e.periodMs > 0); // pressed in while it repeats
        b->setChecked(sender_.repeating(i));
        b->setToolTip(
            e.periodMs > 0
                ? QStringLiteral("Repeats every %1 ms until pressed again").arg(e.periodMs)
                : QStringLiteral("Sends once"));
    };
    scroll->setWidget(sendButtons);
    scroll->viewport()->setAutoFillBackground(false); // the page's own colour behind the buttons
    sendButtons->setAutoFillBackground(false);
    auto* layout = new QVBoxLayout(page);
    layout->addLayout(top, 3);
    layout->addWidget(scroll, 1);

    connect(entryList, &QListWidget::currentRowChanged, this, &QuickSendWindow::showEntry);
    connect(addEntryButton, &QPushButton::clicked, this, [this] {
        Entry e;
        e.name = uniqueName(book_, QStringLiteral("Entry ")).toStdU16String();
        e.data = u"AT";
        e.end = quicksend::LineEnd::CR;
        book_.entries.push_back(e);
        commit();
        showBook();
        entryList->setCurrentRow(static_cast<int>(book_.entries.size()) - 1);
    });
    connect(removeEntryButton, &QPushButton::clicked, this, [this] {
        const int row = entryList->currentRow();
        if (row < 0)
            return;
        // The steps and rules that send it go with it: asked first, naming them.
        const QStringList users = book_.usersOf(std::size_t(row));
        if (!users.isEmpty() &&
            ask(this,
                QStringLiteral("\"%1\" is sent by %2. Remove it and them?")
                    .arg(q(book_.entries[std::size_t(row)].name), users.join(QStringLiteral(", "))),
                {QStringLiteral("Remove")}) != 0)
            return;
        book_.remove(std::size_t(row));
        commit();
        showBook();
    });
    for (QLineEdit* e : {nameEdit, dataEdit})
        connect(e, &QLineEdit::textEdited, this, &QuickSendWindow::entryEdited);
    for (QComboBox* c : {formBox, endBox, checksumBox, keyBox})
        connect(c, &QComboBox::currentIndexChanged, this, &QuickSendWindow::entryEdited);
    for (QSpinBox* s : {skipFirstBox, skipLastBox, periodBox})
        connect(s, &QSpinBox::valueChanged, this, &QuickSendWindow::entryEdited);
    return page;
}

QWidget* QuickSendWindow::buildSequences() {
    auto* page = new QWidget;
    sequenceList = new QListWidget(page);
    auto* addSequence = button("Add", page);
    auto* removeSequence = button("Remove", page);
    sequenceName = new QLineEdit(page);
    runsBox = spin(1'000'000, 1, " times", page);
    runsBox->setSpecialValueText(QStringLiteral("until stopped"));
    stepsTable = new QTableWidget(0, 2, page);
    stepsTable->setHorizontalHeaderLabels(
        {QStringLiteral("Entry"), QStringLiteral("Delay after (ms)")});
    stepsTable->horizontalHeader()->setStretchLastSection(true);
    stepsTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    auto* addStep = button("Add step", page);
    auto* removeStep = button("Remove step", page);
    runButton = button("Run", page);
    stopButton = button("Stop", page);
    stopButton->setEnabled(false);

    auto* left = new QVBoxLayout;
    left->addWidget(sequenceList, 1);
    auto* lb = new QHBoxLayout;
    lb->addWidget(addSequence);
    lb->addWidget(removeSequence);
    left->addLayout(lb);
    auto* head = new QHBoxLayout;
    head->addWidget(new QLabel(QStringLiteral("Name"), page));
    head->addWidget(sequenceName, 1);
    head->addWidget(new QLabel(QStringLiteral("Run"), page));
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
    auto* layout = new QHBoxLayout(page);
    layout->addLayout(left, 1);
    layout->addLayout(right, 2);

    connect(sequenceList, &QListWidget::currentRowChanged, this, [this] { showBook(); });
    connect(addSequence, &QPushButton::clicked, this, [this] {
        book_.sequences.push_back(
            {QStringLiteral("Sequence %1").arg(book_.sequences.size() + 1).toStdU16String(),
             {},
             1});
        commit();
        showBook();
        sequenceList->setCurrentRow(static_cast<int>(book_.sequences.size()) - 1);
    });
    connect(removeSequence, &QPushButton::clicked, this, [this] {
        const int row = sequenceList->currentRow();
        if (row < 0)
            return;
        book_.sequences.erase(book_.sequences.begin() + row);
        commit();
        showBook();
    });
    connect(addStep, &QPushButton::clicked, this, [this] {
        const int row = sequenceList->currentRow();
        if (row < 0 || book_.entries.empty())
            return;
        book_.sequences[static_cast<std::size_t>(row)].steps.push_back(
            {book_.entries.front().name, 100});
        commit();
        showBook();
    });
    connect(removeStep, &QPushButton::clicked, this, [this] {
        const int row = sequenceList->currentRow(), step = stepsTable->currentRow();
        if (row < 0 || step < 0)
            return;
        auto& steps = book_.sequences[static_cast<std::size_t>(row)].steps;
        steps.erase(steps.begin() + step);
        commit();
        showBook();
    });
    connect(sequenceName, &QLineEdit::textEdited, this, &QuickSendWindow::stepsEdited);
    connect(runsBox, &QSpinBox::valueChanged, this, &QuickSendWindow::stepsEdited);
    connect(stepsTable, &QTableWidget::itemChanged, this, &QuickSendWindow::stepsEdited);
    connect(runButton, &QPushButton::clicked, this,
            [this] { sender_.runSequence(sequenceList->currentRow()); });
    connect(stopButton, &QPushButton::clicked, &sender_, &QuickSender::stopSequence);
    return page;
}

QWidget* QuickSendWindow::buildRules() {
    auto* page = new QWidget;
    rulesOnBox = new QCheckBox(QStringLiteral("Answer by these rules"), page);
    rulesOnBox->setChecked(true);
    rulesTable = new QTableWidget(0, 6, page);
    rulesTable->setHorizontalHeaderLabels({QStringLiteral("On"), QStringLiteral("Kind"),
                                           QStringLiteral("Pattern"), QStringLiteral("Answer"),
                                           QStringLiteral("Delay (ms)"), QStringLiteral("Fired")});
    rulesTable->horizontalHeader()->setSectionResizeMode(2, QHeaderView::Stretch);
    rulesTable->setToolTip(QStringLiteral("Kind: Text (with escapes), Hex or Regex; Answer: "
                                          "the name of an entry"));
    answersBox = spin(1'000'000, quicksend::RateLimit::kDefaultPerSecond, "", page);
    answersBox->setMinimum(1);
    answersBox->setToolTip(QStringLiteral("A rule that fires more often in one second switches "
                                          "itself off (an echoing device would fire it without "
                                          "end)"));
    auto* addRule = button("Add rule", page);
    addRule->setObjectName(QStringLiteral("AddRule"));
    auto* removeRule = button("Remove rule", page);
    auto* rb = new QHBoxLayout;
    rb->addWidget(rulesOnBox);
    rb->addSpacing(16);
    rb->addWidget(new QLabel(QStringLiteral("At most"), page));
    rb->addWidget(answersBox);
    rb->addWidget(new QLabel(QStringLiteral("answers a second per rule"), page));
    rb->addStretch();
    rb->addWidget(addRule);
    rb->addWidget(removeRule);
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(rulesTable, 1);
    layout->addLayout(rb);

    connect(rulesOnBox, &QCheckBox::toggled, &sender_, &QuickSender::setRulesEnabled);
    connect(answersBox, &QSpinBox::valueChanged, this, [this](int perSecond) {
        if (showing_ || perSecond == book_.answersPerSecond)
            return;
        book_.answersPerSecond = perSecond;
        commit();
    });
    connect(addRule, &QPushButton::clicked, this, [this] {
        if (book_.entries.empty())
            return;
        engine::AnswerRule rule;
        rule.pattern.text = u"?";
        rule.entry = book_.entries.front().name;
        book_.rules.push_back(std::move(rule));
        commit();
        showBook();
    });
    connect(removeRule, &QPushButton::clicked, this, [this] {
        const int row = rulesTable->currentRow();
        if (row < 0)
            return;
        book_.rules.erase(book_.rules.begin() + row);
        commit();
        showBook();
    });
    connect(rulesTable, &QTableWidget::itemChanged, this, &QuickSendWindow::rulesEdited);
    return page;
}

QWidget* QuickSendWindow::buildFileAndLines() {
    auto* page = new QWidget;
    filePath = new QLineEdit(page);
    auto* browse = button("Browse...", page);
    paceBox = combo({QStringLiteral("Full speed"), QStringLiteral("Delay after each character"),
                     QStringLiteral("Delay after each line end")},
                    page);
    paceDelayBox = spin(60000, 1, " ms", page);
    hexFileBox = new QCheckBox(QStringLiteral("Read the file as a hex list"), page);
    sendFileButton = button("Send file", page);
    stopFileButton = button("Stop", page);
    stopFileButton->setEnabled(false);
    fileBar = new QProgressBar(page);
    fileLabel = new QLabel(page);
    fileLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    breakBox = spin(60000, QuickSender::kBreakMs, " ms", page);
    breakBox->setMinimum(1);
    breakButton = button("Break", page);
    rtsBox = new QCheckBox(QStringLiteral("RTS"), page);

    auto* path = new QHBoxLayout;
    path->addWidget(filePath, 1);
    path->addWidget(browse);
    auto* pace = new QHBoxLayout;
    pace->addWidget(paceBox);
    pace->addWidget(paceDelayBox);
    pace->addStretch();
    auto* go = new QHBoxLayout;
    go->addWidget(hexFileBox);
    go->addStretch();
    go->addWidget(sendFileButton);
    go->addWidget(stopFileButton);
    auto* line = new QHBoxLayout;
    line->addWidget(new QLabel(QStringLiteral("Hold the line in break for"), page));
    line->addWidget(breakBox);
    line->addWidget(breakButton);
    line->addSpacing(24);
    line->addWidget(rtsBox);
    line->addStretch();
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("File"), path);
    form->addRow(QStringLiteral("Pacing"), pace);
    form->addRow(go);
    form->addRow(fileBar);
    form->addRow(fileLabel);
    auto* layout = new QVBoxLayout(page);
    layout->addLayout(form);
    layout->addSpacing(16);
    layout->addLayout(line);
    layout->addStretch();

    connect(browse, &QPushButton::clicked, this, [this] {
        const QString p = QFileDialog::getOpenFileName(this, QStringLiteral("Send a file"));
        if (!p.isEmpty())
            filePath->setText(p);
    });
    connect(sendFileButton, &QPushButton::clicked, this, &QuickSendWindow::startFile);
    connect(stopFileButton, &QPushButton::clicked, &sender_, &QuickSender::stopFile);
    connect(&sender_, &QuickSender::fileProgress, this,
            [this](qint64 sent, qint64 total, double rate, qint64 msLeft) {
                fileBar->setRange(0, 1000);
                fileBar->setValue(total > 0 ? int(sent * 1000 / total) : 1000);
                fileLabel->setText(QStringLiteral("%1 of %2 bytes, %3 bytes/s, %4 left")
                                       .arg(sent)
                                       .arg(total)
                                       .arg(qRound64(rate))
                                       .arg(msLeft < 0 ? QStringLiteral("?")
                                                       : QStringLiteral("%1 s").arg(
                                                             double(msLeft) / 1000.0, 0, 'f', 1)));
            });
    connect(&sender_, &QuickSender::fileFinished, this, [this](bool complete) {
        const bool onStop = stopFileButton->hasFocus(); // not on to the break box
        sendFileButton->setEnabled(true);
        stopFileButton->setEnabled(false);
        if (onStop)
            sendFileButton->setFocus();
        fileLabel->setText(fileLabel->text() +
                           (complete ? QStringLiteral(": done") : QStringLiteral(": stopped")));
    });
    connect(breakButton, &QPushButton::clicked, this,
            [this] { sender_.sendBreak(breakBox->value()); });
    connect(&sender_, &QuickSender::breakChanged, breakButton,
            [this](bool on) { breakButton->setEnabled(!on); });
    connect(rtsBox, &QCheckBox::clicked, this, [this](bool on) {
        if (!sender_.setRts(on))
            rtsBox->setChecked(!on);
    });
    return page;
}

// ---------------------------------------------------------------- showing and editing

void QuickSendWindow::showBook() {
    // Filling the lists and tables is not editing them.
    const QSignalBlocker b1(entryList), b2(sequenceList), b3(stepsTable), b4(rulesTable);
    showing_ = true;
    const int entry = entryList->currentRow();
    entryList->clear();
    for (const Entry& e : book_.entries)
        entryList->addItem(q(e.name) + (e.key ? QStringLiteral("  [F%1]").arg(e.key) : QString()));
    entryList->setCurrentRow(std::min(entry, entryList->count() - 1));

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

    answersBox->setValue(book_.answersPerSecond);
    rulesTable->setRowCount(int(book_.rules.size()));
    for (int i = 0; i < int(book_.rules.size()); ++i) {
        const engine::AnswerRule& r = book_.rules[std::size_t(i)];
        auto* on = readOnlyItem({});
        on->setFlags(on->flags() | Qt::ItemIsUserCheckable);
        on->setCheckState(r.enabled ? Qt::Checked : Qt::Unchecked);
        rulesTable->setItem(i, 0, on);
        rulesTable->setItem(i, 1, editableItem(kKinds[int(r.pattern.kind)]));
        rulesTable->setItem(i, 2, editableItem(q(r.pattern.text)));
        rulesTable->setItem(i, 3, editableItem(q(r.entry)));
        rulesTable->setItem(i, 4, editableItem(QString::number(r.delayMs)));
        rulesTable->setItem(i, 5, readOnlyItem(QString::number(sender_.firedCount(i))));
    }
    showing_ = false;
    showEntry();
    rebuildButtons();
}

void QuickSendWindow::showEntry() {
    const int row = entryList->currentRow();
    const bool has = row >= 0 && row < int(book_.entries.size());
    for (QWidget* w : std::initializer_list<QWidget*>{nameEdit, dataEdit, formBox, endBox,
                                                      checksumBox, skipFirstBox, skipLastBox,
                                                      periodBox, keyBox, removeEntryButton})
        w->setEnabled(has);
    if (!has) {
        bytesLabel->clear();
        return;
    }
    const Entry& e = book_.entries[std::size_t(row)];
    const bool wasShowing = std::exchange(showing_, true);
    if (nameEdit->text() != q(e.name))
        nameEdit->setText(q(e.name));
    if (dataEdit->text() != q(e.data))
        dataEdit->setText(q(e.data));
    formBox->setCurrentIndex(int(e.form));
    endBox->setCurrentIndex(int(e.end));
    checksumBox->setCurrentIndex(int(e.checksum));
    skipFirstBox->setValue(e.skipFirst);
    skipLastBox->setValue(e.skipLast);
    periodBox->setValue(e.periodMs);
    keyBox->setCurrentIndex(e.key);
    showing_ = wasShowing;
    const quicksend::EntryBytes b = quicksend::entryBytes(e);
    bytesLabel->setStyleSheet(b.ok() ? QString() : QStringLiteral("color: #b00000"));
    bytesLabel->setText(b.ok() ? QString::fromStdString(quicksend::bytesPreview(b, kPreviewBytes))
                               : QStringLiteral("Not in use until mended: ") +
                                     QString::fromStdString(b.error));
}

void QuickSendWindow::entryEdited() {
    const int row = entryList->currentRow();
    if (showing_ || row < 0)
        return;
    Entry& e = book_.entries[std::size_t(row)];
    // The book renames through steps and rules, or keeps the old name while the typed one
    // is empty or taken.
    const QString refused = book_.rename(std::size_t(row), nameEdit->text().toStdU16String());
    e.data = dataEdit->text().toStdU16String();
    e.form = quicksend::DataForm(formBox->currentIndex());
    e.end = quicksend::LineEnd(endBox->currentIndex());
    e.checksum = quicksend::Checksum(checksumBox->currentIndex());
    e.skipFirst = skipFirstBox->value();
    e.skipLast = skipLastBox->value();
    e.periodMs = periodBox->value();
    const int oldKey = e.key;
    book_.setKey(std::size_t(row), keyBox->currentIndex());
    commit();
    if (!refused.isEmpty())
        bookFault->setText(QStringLiteral("The name stays \"%1\": %2").arg(q(e.name), refused));
    showing_ = true;
    if (oldKey != e.key) { // another entry may have lost the key
        for (int i = 0; i < entryList->count(); ++i) {
            const Entry& other = book_.entries[std::size_t(i)];
            entryList->item(i)->setText(
                q(other.name) + (other.key ? QStringLiteral("  [F%1]").arg(other.key) : QString()));
        }
    }
    entryList->item(row)->setText(q(e.name) +
                                  (e.key ? QStringLiteral("  [F%1]").arg(e.key) : QString()));
    showing_ = false;
    showEntry();
    rebuildButtons();
}

void QuickSendWindow::stepsEdited() {
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
    commit();
}

void QuickSendWindow::rulesEdited() {
    if (showing_)
        return;
    bool onlySwitches = true;
    for (int i = 0; i < rulesTable->rowCount() && i < int(book_.rules.size()); ++i) {
        engine::AnswerRule& r = book_.rules[std::size_t(i)];
        if (!rulesTable->item(i, 0) || !rulesTable->item(i, 4))
            continue;
        const bool on = rulesTable->item(i, 0)->checkState() == Qt::Checked;
        if (on != r.enabled) {
            r.enabled = on;
            sender_.setRuleEnabled(i, on); // switched without losing the counts
        }
        engine::AnswerRule edited = r;
        edited.pattern.kind = kindOf(rulesTable->item(i, 1)->text());
        edited.pattern.text = rulesTable->item(i, 2)->text().toStdU16String();
        edited.entry = rulesTable->item(i, 3)->text().toStdU16String();
        edited.delayMs = std::max(0, rulesTable->item(i, 4)->text().toInt());
        if (!(edited == r)) {
            r = edited;
            onlySwitches = false;
        }
    }
    if (!onlySwitches)
        commit();
    else
        saveTimer_.start(kSaveDelayMs);
}

void QuickSendWindow::commit() {
    // The sender runs the book as it is: what is under repair sends nothing until mended.
    sender_.setBook(book_);
    const QString why = engine::firstFault(book_);
    bookFault->setText(
        why.isEmpty()
            ? QString()
            : elideMiddle(QStringLiteral("Not in use until mended: ") + why, kMessageRunChars * 2));
    saveTimer_.start(kSaveDelayMs);
}

void QuickSendWindow::rebuildButtons() {
    // The buttons in sight change their text; the rest are made when scrolled to.
    buttonField_->setCount(int(sender_.book().entries.size()));
}

void QuickSendWindow::pressEntry(int index) {
    const auto& entries = sender_.book().entries;
    if (index < 0 || index >= int(entries.size()))
        return;
    if (entries[std::size_t(index)].periodMs > 0)
        sender_.setRepeating(index, !sender_.repeating(index));
    else
        sender_.sendEntry(index);
}

void QuickSendWindow::startFile() {
    // The focus follows the button that takes over, not on to the break box.
    const bool onSend = sendFileButton->hasFocus();
    stopFileButton->setEnabled(true);
    if (onSend)
        stopFileButton->setFocus();
    sendFileButton->setEnabled(false);
    sender_.sendFile(filePath->text(), hexFileBox->isChecked(),
                     quicksend::Pace(paceBox->currentIndex()), paceDelayBox->value());
    if (!sender_.sendingFile()) { // refused (closed port) or already done
        sendFileButton->setEnabled(true);
        if (onSend)
            sendFileButton->setFocus();
        stopFileButton->setEnabled(false);
    }
}

void QuickSendWindow::showFailure(const QString& text) {
    showMessage(isVisible() ? this : nullptr, text);
}

void QuickSendWindow::followPort() {
    // RTS is the line's own while RTS/CTS flow control drives it.
    const bool rtsCts = engine_ && engine_->isOpen() &&
                        engine_->lastOpenRequest().handshaking == serial::Handshaking::RtsCts;
    rtsBox->setEnabled(!rtsCts);
    rtsBox->setToolTip(rtsCts ? QStringLiteral("RTS/CTS flow control drives RTS")
                              : QStringLiteral("Sets the RTS line of the open port"));
}

bool QuickSendWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress)
        return QWidget::eventFilter(watched, event);
    const auto* key = static_cast<QKeyEvent*>(event);
    const int f = key->key() - Qt::Key_F1 + 1;
    // Any of the terminal's windows, but not while a message box waits for its answer.
    if (f < 1 || f > 12 || key->isAutoRepeat() || !watched->isWidgetType() ||
        QApplication::activeModalWidget() || key->modifiers() != Qt::NoModifier)
        return QWidget::eventFilter(watched, event);
    const int entry = sender_.entryForKey(f);
    if (entry < 0)
        return QWidget::eventFilter(watched, event);
    pressEntry(entry);
    return true;
}

void QuickSendWindow::hideEvent(QHideEvent* event) {
    rememberPlace(*this, placed_, kGeometryKey);
    QWidget::hideEvent(event);
}

} // namespace varnok
