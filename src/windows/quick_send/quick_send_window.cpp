#include "windows/quick_send/quick_send_window.h"

#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>
#include <utility>

#include "logic/quicksend/escapes.h"
#include "windows/fixed_font.h"
#include "windows/main_window/message_box.h"
#include "windows/placement.h"
#include "windows/quick_send/button_field.h"
#include "windows/quick_send/controls.h"
#include "windows/quick_send/file_page.h"
#include "windows/quick_send/rules_page.h"
#include "windows/quick_send/sequences_page.h"
#include "windows/user_settings.h"

namespace varnok {

namespace {

using engine::QuickSender;
using quick_send::button;
using quick_send::combo;
using quick_send::q;
using quick_send::spin;
using quicksend::Entry;

const QString kGeometryKey = QStringLiteral("quicksend/geometry");
constexpr QSize kDefaultSize{760, 520};
constexpr int kPreviewBytes = 32; // shown before the preview is cut
constexpr int kButtonChars = 24;  // of an entry's name on its button

// An entry as the list shows it: its name and its key.
QString listed(const Entry& e) {
    return q(e.name) + (e.key ? QStringLiteral("  [F%1]").arg(e.key) : QString());
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

} // namespace

QuickSendWindow::QuickSendWindow(engine::Session& session, QWidget* parent)
    : QWidget(parent, Qt::Window), sender_(session.quickSend()), keeper_(session.quickSendBook()),
      book_(keeper_.book()) {
    setObjectName(QStringLiteral("QuickSend"));
    setWindowTitle(QStringLiteral("Quick Send"));

    auto* tabs = new QTabWidget(this);
    tabs->addTab(buildEntries(), QStringLiteral("Entries"));
    sequences = new SequencesPage(keeper_, sender_);
    tabs->addTab(sequences, QStringLiteral("Sequences"));
    rules = new RulesPage(keeper_, sender_);
    tabs->addTab(rules, QStringLiteral("Auto-answer"));
    file = new FileAndLinesPage(sender_, session.terminal());
    tabs->addTab(file, QStringLiteral("File and lines"));
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
    wireBookAndSender();

    // The remembered book, read once per session; one that cannot be read is set aside with
    // one message, after the window is up, and Quick Send starts empty.
    QSettings settings = userSettings();
    if (const engine::Outcome read = keeper_.open(bookPath(), settings); !read)
        QTimer::singleShot(0, this, [this, why = read.failure()] { showFailure(why); });
    showFault(engine::firstFault(book_));
    showBook();
    // F1-F12 anywhere in the terminal's windows while this one is open.
    qApp->installEventFilter(this);
}

QuickSendWindow::~QuickSendWindow() {
    qApp->removeEventFilter(this);
}

void QuickSendWindow::wireBookAndSender() {
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
    connect(&keeper_, &engine::QuickSendKeeper::saveFailed, this, [this](const QString& why) {
        bookFault->setText(QStringLiteral("The entries were not saved: ") + why);
    });
    connect(sequences, &SequencesPage::edited, this, &QuickSendWindow::commit);
    connect(rules, &RulesPage::edited, this, &QuickSendWindow::commit);
    connect(&sender_, &QuickSender::failed, this, &QuickSendWindow::showFailure);
    connect(&sender_, &QuickSender::repeatingChanged, this, [this](int entry, bool on) {
        if (auto* b = sendButtons->findChild<QPushButton*>(QStringLiteral("Send_%1").arg(entry)))
            b->setChecked(on);
    });
}

void QuickSendWindow::showBeside(const QWidget* main) {
    showPlaced(*this, placed_, kGeometryKey, main, kDefaultSize);
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
    dataEdit->setToolTip(QStringLiteral("Text with \\r \\n \\t \\\\ \\xHH, hex bytes "
                                        "separated by spaces, or a Lua script's file"));
    browseButton = button("Browse...", page);
    browseButton->setObjectName(QStringLiteral("BrowseScript"));
    browseButton->setToolTip(QStringLiteral("Choose the Lua script the entry runs"));
    formBox =
        combo({QStringLiteral("Text"), QStringLiteral("Hex list"), QStringLiteral("Script")}, page);
    formBox->setItemData(2, QStringLiteral("Runs a Lua script from a file instead of sending"),
                         Qt::ToolTipRole);
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
    auto* data = new QHBoxLayout;
    data->addWidget(dataEdit, 1);
    data->addWidget(browseButton);
    form->addRow(QStringLiteral("Data"), data);
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
    auto* layout = new QVBoxLayout(page);
    layout->addLayout(top, 3);
    layout->addWidget(buildSendButtons(page), 1);
    wireEntries();
    return page;
}

QWidget* QuickSendWindow::buildSendButtons(QWidget* page) {
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
        b->setCheckable(quicksend::repeats(e)); // pressed in while it repeats
        b->setChecked(sender_.repeating(i));
        b->setToolTip(
            e.form == quicksend::DataForm::Script
                ? QStringLiteral("Runs the script %1").arg(q(e.data))
            : quicksend::repeats(e)
                ? QStringLiteral("Repeats every %1 ms until pressed again").arg(e.periodMs)
                : QStringLiteral("Sends once"));
    };
    scroll->setWidget(sendButtons);
    scroll->viewport()->setAutoFillBackground(false); // the page's own colour behind the buttons
    sendButtons->setAutoFillBackground(false);
    return scroll;
}

void QuickSendWindow::wireEntries() {
    connect(entryList, &QListWidget::currentRowChanged, this, &QuickSendWindow::showEntry);
    connect(addEntryButton, &QPushButton::clicked, this, [this] {
        const std::size_t added = book_.addEntry();
        commit();
        showBook();
        entryList->setCurrentRow(int(added));
    });
    connect(removeEntryButton, &QPushButton::clicked, this, &QuickSendWindow::removeEntry);
    connect(browseButton, &QPushButton::clicked, this, &QuickSendWindow::browseScript);
    for (QLineEdit* e : {nameEdit, dataEdit})
        connect(e, &QLineEdit::textEdited, this, &QuickSendWindow::entryEdited);
    for (QComboBox* c : {formBox, endBox, checksumBox, keyBox})
        connect(c, &QComboBox::currentIndexChanged, this, &QuickSendWindow::entryEdited);
    for (QSpinBox* s : {skipFirstBox, skipLastBox, periodBox})
        connect(s, &QSpinBox::valueChanged, this, &QuickSendWindow::entryEdited);
}

void QuickSendWindow::removeEntry() {
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
}

// ---------------------------------------------------------------- showing and editing

void QuickSendWindow::showBook() {
    // Filling the list is not editing it.
    const QSignalBlocker quiet(entryList);
    showing_ = true;
    const int entry = entryList->currentRow();
    entryList->clear();
    for (const Entry& e : book_.entries)
        entryList->addItem(listed(e));
    entryList->setCurrentRow(std::min(entry, entryList->count() - 1));

    showing_ = false;
    sequences->showSequences();
    rules->showRules();
    showEntry();
    rebuildButtons();
}

void QuickSendWindow::showEntry() {
    const int row = entryList->currentRow();
    const bool has = row >= 0 && row < int(book_.entries.size());
    const bool script = has && book_.entries[std::size_t(row)].form == quicksend::DataForm::Script;
    for (QWidget* w :
         std::initializer_list<QWidget*>{nameEdit, dataEdit, formBox, keyBox, removeEntryButton})
        w->setEnabled(has);
    // What makes bytes means nothing to a script, which also runs once per press.
    for (QWidget* w :
         std::initializer_list<QWidget*>{endBox, checksumBox, skipFirstBox, skipLastBox, periodBox})
        w->setEnabled(has && !script);
    browseButton->setEnabled(script);
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
    if (script) {
        const QString fault = engine::entryFault(book_, std::size_t(row));
        bytesLabel->setStyleSheet(fault.isEmpty() ? QString() : QStringLiteral("color: #b00000"));
        bytesLabel->setText(fault.isEmpty() ? QStringLiteral("Runs the script %1").arg(q(e.data))
                                            : QStringLiteral("Not in use until mended: ") + fault);
        return;
    }
    const quicksend::EntryBytes b = quicksend::entryBytes(e);
    bytesLabel->setStyleSheet(b.ok() ? QString() : QStringLiteral("color: #b00000"));
    bytesLabel->setText(b.ok() ? QString::fromStdString(quicksend::bytesPreview(b, kPreviewBytes))
                               : QStringLiteral("Not in use until mended: ") +
                                     QString::fromStdString(b.error));
}

void QuickSendWindow::browseScript() {
    const int row = entryList->currentRow();
    if (row < 0)
        return;
    const QString path = QFileDialog::getOpenFileName(
        this, QStringLiteral("Script for \"%1\"").arg(q(book_.entries[std::size_t(row)].name)),
        dataEdit->text(), QStringLiteral("Lua scripts (*.lua);;All (*)"));
    if (path.isEmpty())
        return;
    dataEdit->setText(path);
    entryEdited();
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
    if (oldKey != e.key) // another entry may have lost the key
        relist(-1);
    relist(row);
    showEntry();
    rebuildButtons();
}

void QuickSendWindow::relist(int row) {
    const bool wasShowing = std::exchange(showing_, true);
    for (int i = std::max(row, 0); i < (row < 0 ? entryList->count() : row + 1); ++i)
        entryList->item(i)->setText(listed(book_.entries[std::size_t(i)]));
    showing_ = wasShowing;
}

void QuickSendWindow::commit() {
    showFault(keeper_.commit());
}

void QuickSendWindow::showFault(const QString& why) {
    bookFault->setText(
        why.isEmpty()
            ? QString()
            : elideMiddle(QStringLiteral("Not in use until mended: ") + why, kMessageRunChars * 2));
}

void QuickSendWindow::rebuildButtons() {
    buttonField_->setCount(int(sender_.book().entries.size()));
}

void QuickSendWindow::pressEntry(int index) {
    const auto& entries = sender_.book().entries;
    if (index < 0 || index >= int(entries.size()))
        return;
    if (quicksend::repeats(entries[std::size_t(index)]))
        sender_.setRepeating(index, !sender_.repeating(index));
    else if (const engine::Outcome sent = sender_.sendEntry(index); !sent)
        showFailure(sent.failure());
}

void QuickSendWindow::showFailure(const QString& text) {
    showMessage(isVisible() ? this : nullptr, text);
}

bool QuickSendWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress)
        return QWidget::eventFilter(watched, event);
    const auto* key = static_cast<QKeyEvent*>(event);
    const int f = key->key() - Qt::Key_F1 + 1;
    // Any of the terminal's windows while this one is open, but not while a message box
    // waits for its answer.
    if (f < 1 || f > 12 || key->isAutoRepeat() || !watched->isWidgetType() || !isVisible() ||
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
