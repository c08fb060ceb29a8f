// What a send puts on the line and counts, the send history, and the receive counters.
#include <QTest>

#include <climits>

#include "logic/codec/recv_display.h"
#include "logic/codec/send_encoding.h"
#include "logic/codec/send_history.h"

using namespace varnok;
using namespace varnok::codec;

Q_DECLARE_METATYPE(varnok::codec::EndOfString)

class TestCodec : public QObject {
    Q_OBJECT
  private slots:
    void encode_data() {
        using E = EndOfString;
        QTest::addColumn<bool>("ascii");
        QTest::addColumn<QString>("text");
        QTest::addColumn<EndOfString>("eos");
        QTest::addColumn<QString>("def");
        QTest::addColumn<QByteArrayList>("writes"); // or the refusal: "number: description"
        QTest::addColumn<QList<int>>("counts");     // shown, counted, list error; {} if refused
        const auto row = [](const char* name, bool ascii, const QString& text, EndOfString eos,
                            const char* def, const QByteArrayList& hex, int shown, int counted,
                            HexListError error = HexListError::None) {
            QByteArrayList writes;
            for (const QByteArray& w : hex)
                writes << QByteArray::fromHex(w);
            QTest::newRow(name) << ascii << text << eos << QString::fromLatin1(def) << writes
                                << QList<int>{shown, counted, int(error)};
        };
        // Refused before anything counts or is written, in the order the checks are made.
        const auto refused = [](const char* name, bool ascii, const char* text, const char* def,
                                int number, const QString& description) {
            QTest::newRow(name) << ascii << QString::fromUtf8(text) << (*def ? E::Def : E::CRLF)
                                << QString::fromUtf8(def)
                                << QByteArrayList{QByteArray::number(number) + ": " +
                                                  description.toUtf8()}
                                << QList<int>{};
        };
        const QString defSays = QStringLiteral("Don't use space in \"Def\" field !!");
        const auto unencodable = [](const char* shown, const char* code) {
            return QStringLiteral("Character \"%1\" (U+%2) cannot be sent: only Latin-1 "
                                  "characters (U+0000 to U+00FF) can.")
                .arg(QString::fromUtf8(shown), QLatin1String(code));
        };
        using L = HexListError;
        const QString list = QStringLiteral("01 03 00 00 00 01");
        row("ascii none", true, "ABC", E::None, "", {"414243"}, 3, 3);
        row("ascii cr", true, "ABC", E::CR, "", {"4142430D"}, 4, 4);
        row("ascii lf", true, "ABC", E::LF, "", {"4142430A"}, 4, 4);
        row("ascii lfcr", true, "ABC", E::LFCR, "", {"4142430A0D"}, 5, 5);
        row("ascii crlf", true, "ABC", E::CRLF, "", {"4142430D0A"}, 5, 5);
        row("ascii def ABC: odd last digit alone", true, "ABC", E::Def, "ABC", {"414243", "AB0C"},
            5, 5);
        row("ascii def empty", true, "ABC", E::Def, "", {"414243"}, 3, 3);
        row("ascii empty cr", true, "", E::CR, "", {"0D"}, 1, 1);
        row("no-break space sent as A0", true, QString::fromUtf16(u"A\u00A0B"), E::None, "",
            {"41A042"}, 3, 3);
        QByteArray all;
        for (int c = 0; c <= 0xFF; ++c)
            all += char(c);
        row("every latin-1 character one byte", true, QString::fromLatin1(all), E::None, "",
            {all.toHex()}, 256, 256);
        row("binary none", false, list, E::None, "", {"010300000001"}, 6, 17);
        row("binary cr", false, list, E::CR, "", {"010300000001"}, 7, 18);
        row("binary def counted, not written", false, "01 02", E::Def, "0D0A", {"0102"}, 2, 7);
        row("binary runs of blanks", false, "  1   3  a ", E::None, "", {"01030A"}, 4, 11);
        row("binary blanks only", false, "   ", E::CR, "", {}, 4, 4);
        row("binary value too big", false, "0103", E::None, "", {}, 4, 4, L::ValueTooBig);
        row("binary not hex", false, "0G", E::None, "", {}, 2, 2, L::NotHex);
        row("binary line break inside", false, "01\n02", E::None, "", {}, 5, 5, L::NotHex);
        row("binary non-latin1", false, QString::fromUtf8("01 €"), E::None, "", {}, 4, 4,
            L::NotHex);
        row("binary too many values", false, QString("1 ").repeated(32767), E::None, "", {}, 65534,
            65534, L::TooManyValues);
        refused("def blank inside", true, "01 02", "1A 0D", 1001, defSays);
        refused("def bad in binary mode", false, "01 02", "1A 0D", 1001, defSays);
        refused("def odd last not hex", true, "A", "1AG", 1001, defSays);
        refused("def full-width digit", true, "A", "１A", 1001, defSays);
        refused("def before the character", true, "€", "G", 1001, defSays);
        refused("euro", true, "A€B", "", 1002, unencodable("€", "20AC"));
        refused("first of many", true, "éŁ€", "", 1002, unencodable("Ł", "0141"));
        refused("surrogate pair is one character", true, "x😀", "", 1002, unencodable("😀", "1F600"));
    }
    void encode() {
        QFETCH(bool, ascii);
        QFETCH(QString, text);
        QFETCH(EndOfString, eos);
        QFETCH(QString, def);
        QByteArrayList got;
        QList<int> counts;
        try {
            const SendEncoding e =
                encodeSend(ascii, text.toStdU16String(), eos, def.toStdU16String());
            for (const auto& w : e.writes)
                got << QByteArray(reinterpret_cast<const char*>(w.data()), qsizetype(w.size()));
            counts = {e.shownCount, e.countedLength, int(e.listError)};
        } catch (const Failure& f) {
            got << QByteArray::number(f.number()) + ": " +
                       QByteArray::fromStdString(f.description());
        }
        QTEST(got, "writes");
        QTEST(counts, "counts");
    }

    void addToCounter_data() {
        QTest::addColumn<QString>("counter");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("result");
        QTest::newRow("normal") << "17" << 4 << 21;
        QTest::newRow("blanks and tabs around") << " \t12 " << 3 << 15;
        QTest::newRow("negative") << "-10" << 3 << -7;
        QTest::newRow("sum at max") << "2147483646" << 1 << INT_MAX;
        QTest::newRow("sum past max restarts") << "2147483647" << 1 << 1;
        QTest::newRow("text past 32 bits restarts") << "99999999999" << 2 << 2;
        QTest::newRow("400 digits restart") << QString(400, QChar('9')) << 2 << 2;
        QTest::newRow("empty") << "" << 5 << 5;
        QTest::newRow("decimal point") << "12.5" << 3 << 3;
        QTest::newRow("full-width digits") << QString::fromUtf8("１２") << 4 << 4;
    }
    void addToCounter() {
        QFETCH(QString, counter);
        QFETCH(int, count);
        QTEST(codec::addToCounter(counter.toStdU16String(), count), "result");
    }

    // A script of "r:TEXT" (a send), "u" (Up) and "d" (Down); Up and Down give what the send
    // box shows.
    void history_data() {
        QTest::addColumn<QStringList>("script");
        QTest::addColumn<QStringList>("shown");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("cursor");
        const auto row = [](const char* name, const QStringList& script, const QStringList& shown,
                            int count, int cursor) {
            QTest::newRow(name) << script << shown << count << cursor;
        };
        row("up walks to entry 0 and stays", {"r:a", "r:b", "r:c", "u", "u", "u", "u"},
            {"b", "a", "a", "a"}, 3, 0);
        row("down stops at the empty entry at count",
            {"r:a", "r:b", "r:c", "u", "u", "d", "d", "d", "d"}, {"b", "a", "b", "c", "", ""}, 3,
            3);
        row("up on empty history", {"u", "d"}, {"", ""}, 0, 0);
        row("repeat resets the cursor, not stored", {"r:a", "r:b", "r:c", "u", "u", "r:B", "u"},
            {"b", "a", "c"}, 3, 2);
        row("empty send: not stored, cursor kept", {"r:a", "r:b", "u", "u", "r:", "d"},
            {"a", "a", "b"}, 2, 1);
        row("case ignored, first spelling kept", {"r:Hello", "r:hELLO", "u"}, {"Hello"}, 1, 0);
        row("latin-1 letters fold", {"r:ÄÖÜÉ", "r:äöüé"}, {}, 1, 1);
        row("y diaeresis folds", {"r:ÿ", "r:Ÿ"}, {}, 1, 1);
        row("times and divide differ", {"r:×", "r:÷"}, {}, 2, 1);
        row("digits and signs differ", {"r:1", "r:!"}, {}, 2, 1);
        row("prefix differs", {"r:abc", "r:abcd"}, {}, 2, 1);
        QStringList texts;
        for (int i = 0; i < 33; ++i)
            texts << QStringLiteral("r:t%1").arg(i);
        row("33 texts: the last ones share entry 31", texts + QStringList{"d", "u"}, {"t32", "t30"},
            31, 30);
        row("full: entry 31 is searched too",
            texts.mid(0, 32) + QStringList{"r:T31", "d", "r:t5", "d", "r:new", "d", "u", "u"},
            {"t31", "t31", "new", "t30", "t29"}, 31, 29);
    }
    void history() {
        QFETCH(QStringList, script);
        SendHistory h;
        QStringList shown;
        for (const QString& step : script) {
            if (step.startsWith(QLatin1String("r:")))
                h.record(step.mid(2).toStdU16String());
            else
                shown << QString::fromStdU16String(step == QLatin1String("u") ? h.up() : h.down());
        }
        QTEST(shown, "shown");
        QTEST(h.count(), "count");
        QTEST(h.cursor(), "cursor");
    }

    void display() {
        const std::uint8_t in[] = {0x00, 0x0A, 0x0D, 0x7F, 0x80, 0xA0, 0xAB, 0xFF};
        QCOMPARE(hexDisplay(in, sizeof in), std::string("00 0A 0D 7F 80 A0 AB FF "));
        QCOMPARE(hexDisplay(in, 0), std::string());
        // One character a byte, of the same code: no sign extension, NUL and CR kept.
        const std::u16string text = latin1Text(in, sizeof in);
        QCOMPARE(text, std::u16string(u"\x00\x0A\x0D\x7F\x80\xA0\xAB\xFF", sizeof in));
    }

    // Auto pass: {display length, base, show data, show limit} -> {recvLength, total, clear,
    // base}. Manual read: {display length, chunk length, base} -> {dropFront, recvLength, total,
    // base}. {} is Overflow.
    void receive_data() {
        QTest::addColumn<bool>("manual");
        QTest::addColumn<QList<qint64>>("in");
        QTest::addColumn<QList<qint64>>("after");
        const auto row = [](const char* name, bool manual, const QList<qint64>& in,
                            const QList<qint64>& after) {
            QTest::newRow(name) << manual << in << after;
        };
        const qint64 cap = kManualDisplayCap;
        const qint64 max = INT_MAX;
        row("auto: at limit kept, base kept", false, {1024, 300, 1, 1024}, {1024, 1324, 0, 300});
        row("auto: one past limit cleared", false, {1025, 500, 1, 1024}, {1025, 1525, 1, 1525});
        row("auto: other limit", false, {8193, 0, 1, 8192}, {8193, 8193, 1, 8193});
        row("auto: show off clears any data", false, {5, 10, 0, 1024}, {5, 15, 1, 15});
        row("auto: show off, nothing displayed", false, {0, 10, 0, 1024}, {0, 10, 0, 10});
        row("auto: total reaches int32 max", false, {5, max - 5, 1, 1024}, {5, max, 0, max - 5});
        row("auto: total one past max", false, {6, max - 5, 1, 1024}, {});
        row("auto: display past 32 bits", false, {max + 1, 0, 1, 1024}, {});
        row("second read adds", true, {5, 3, 100}, {0, 8, 108, 100});
        row("empty read", true, {4, 0, 7}, {0, 4, 11, 7});
        row("exactly at cap", true, {cap - 10, 10, 0}, {0, cap, cap, 0});
        row("one past cap drops one", true, {cap, 1, 100}, {1, cap, cap + 101, 101});
        row("chunk larger than the cap", true, {0, cap + 50, 0}, {50, cap, cap + 50, 50});
        row("larger chunk onto a full display", true, {cap, cap + 1, 0},
            {cap + 1, cap, 2 * cap + 1, cap + 1});
        row("total reaches int32 max", true, {0, 5, max - 5}, {0, 5, max, max - 5});
        row("total past int32 max", true, {0, 10, max - 5}, {});
        row("total past max at the cap", true, {cap, 10, max - 5}, {});
        // Inputs found by fuzz_recv_display that used to wrap instead of overflowing.
        row("overflow64_sum: lengths past 64 bits", true,
            {6926536231198728997LL, 2676586236095037440LL, 37}, {});
        row("overflow_drop_base: drop past the 32-bit base", true,
            {-270453217546197LL, LLONG_MAX, 16722431}, {});
        row("both lengths at the 64-bit max", true, {LLONG_MAX, LLONG_MAX, INT_MIN}, {});
    }
    void receive() {
        QFETCH(bool, manual);
        QFETCH(QList<qint64>, in);
        QList<qint64> got;
        try {
            if (manual) {
                const ManualAppend m = manualReceiveAppend(in[0], in[1], std::int32_t(in[2]));
                got = {m.dropFront, m.recvLength, m.total, m.base};
                // Everything received still counts: what was dropped went into the base.
                QCOMPARE(qint64(m.total), in[2] + in[0] + in[1]);
            } else {
                const AutoPass p =
                    autoReceivePass(in[0], std::int32_t(in[1]), in[2], std::int32_t(in[3]));
                got = {p.recvLength, p.total, p.clearDisplay, p.base};
            }
        } catch (const Overflow&) {
        }
        QTEST(got, "after");
    }
};

QTEST_APPLESS_MAIN(TestCodec)
#include "tst_codec.moc"
