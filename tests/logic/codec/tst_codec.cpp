// What a send puts on the line and counts, the send history, and the receive counters.
#include <QTest>

#include <climits>
#include <numeric>

#include "logic/codec/recv_display.h"
#include "logic/codec/send_encoding.h"
#include "logic/codec/send_history.h"

using namespace varnok::codec;

class TestCodec : public QObject {
    Q_OBJECT
  private slots:
    // A row named "binary" sends in binary mode; eos is the button, "Def:" and the field for Def.
    void encode_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("eos");
        QTest::addColumn<QByteArrayList>("writes"); // in hex, or the refusal "number: description"
        QTest::addColumn<QList<int>>("counts"); // shown, counted, list error; {} refused, uncounted
        const auto row = [](const char* name, const QString& text, const char* eos,
                            const QByteArrayList& writes, const QList<int>& counts = {}) {
            QTest::newRow(name) << text << QString(eos) << writes << counts;
        };
        const QByteArray defSays = "1001: Don't use space in \"Def\" field !!";
        const auto unencodable = [](const char* shown, const char* code) {
            return QByteArray("1002: Character \"") + shown + "\" (U+" + code +
                   ") cannot be sent: only Latin-1 characters (U+0000 to U+00FF) can.";
        };
        const int notHex = int(HexListError::NotHex), none = 0;
        QByteArray all(256, 0);
        std::iota(all.begin(), all.end(), char(0));
        row("ascii lf", "ABC", "LF", {"4142430A"}, {4, 4, none});
        row("ascii lfcr", "ABC", "LFCR", {"4142430A0D"}, {5, 5, none});
        row("ascii crlf", "ABC", "CRLF", {"4142430D0A"}, {5, 5, none});
        row("ascii def ABC: odd digit alone", "ABC", "Def:ABC", {"414243", "AB0C"}, {5, 5, none});
        row("ascii def empty", "ABC", "Def:", {"414243"}, {3, 3, none});
        row("ascii empty cr", "", "CR", {"0D"}, {1, 1, none});
        row("no-break space sent as A0", "A\u00A0B", "None", {"41A042"}, {3, 3, none});
        row("ascii: every latin-1 character one byte", QString::fromLatin1(all), "None",
            {all.toHex().toUpper()}, {256, 256, none});
        row("binary cr", "01 03 00 00 00 01", "CR", {"010300000001"}, {7, 18, none});
        row("binary def counted, not written", "01 02", "Def:0D0A", {"0102"}, {2, 7, none});
        row("binary runs of blanks", "  1   3  a ", "None", {"01030A"}, {4, 11, none});
        row("binary blanks only", "   ", "CR", {}, {4, 4, none});
        row("binary value too big", "0103", "None", {}, {4, 4, int(HexListError::ValueTooBig)});
        row("binary line break inside", "01\n02", "None", {}, {5, 5, notHex});
        row("binary non-latin1", "01 €", "None", {}, {4, 4, notHex});
        row("binary too many values", QString("1 ").repeated(32767), "None", {},
            {65534, 65534, int(HexListError::TooManyValues)});
        row("def blank inside", "01 02", "Def:1A 0D", {defSays});
        row("def bad in binary mode", "01 02", "Def:1A 0D", {defSays});
        row("def odd last not hex", "A", "Def:1AG", {defSays});
        row("def full-width digit", "A", "Def:１A", {defSays});
        row("def checked before the character", "€", "Def:G", {defSays});
        row("first of many", "éŁ€", "CRLF", {unencodable("Ł", "0141")});
        row("surrogate pair is one character", "x😀", "CRLF", {unencodable("😀", "1F600")});
    }
    void encode() {
        const bool ascii = !QByteArray(QTest::currentDataTag()).contains("binary");
        QFETCH(QString, text);
        QFETCH(QString, eos);
        const QStringList names{"None", "CR", "LF", "LFCR", "CRLF", "Def"};
        const auto end = EndOfString(names.indexOf(eos.section(':', 0, 0)));
        QByteArrayList got;
        QList<int> counts;
        try {
            const SendEncoding e =
                encodeSend(ascii, text.toStdU16String(), end, eos.section(':', 1).toStdU16String());
            for (const auto& w : e.writes)
                got << QByteArrayView(w).toByteArray().toHex().toUpper();
            counts = {e.shownCount, e.countedLength, int(e.listError)};
        } catch (const varnok::Failure& f) {
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
        QTEST(varnok::codec::addToCounter(counter.toStdU16String(), count), "result");
    }

    // Scripts of sends "r:TEXT", Up "u" and Down "d"; shown is what Up and Down put in the box.
    void history_data() {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QStringList>("shown");
        QTest::addColumn<QList<int>>("after"); // count, cursor
        const auto row = [](const char* name, const QString& script, const QStringList& shown,
                            int count, int cursor) {
            QTest::newRow(name) << script << shown << QList<int>{count, cursor};
        };
        row("up stays at entry 0, down at the empty entry at count", "r:a r:b r:c u u u u d d d d",
            {"b", "a", "a", "a", "b", "c", "", ""}, 3, 3);
        row("up on empty history", "u d", {"", ""}, 0, 0);
        row("repeat resets the cursor, not stored", "r:a r:b r:c u u r:B u", {"b", "a", "c"}, 3, 2);
        row("empty send: not stored, cursor kept", "r:a r:b u u r: d", {"a", "a", "b"}, 2, 1);
        row("case ignored, first spelling kept", "r:Hello r:hELLO u", {"Hello"}, 1, 0);
        row("latin-1 letters and y diaeresis fold", "r:ÄÖÜÉ r:äöüé r:ÿ r:Ÿ", {}, 2, 2);
        row("times/divide, digit/sign, prefix differ", "r:× r:÷ r:1 r:! r:abc r:abcd", {}, 6, 5);
        QStringList texts;
        for (int i = 0; i < 33; ++i)
            texts << QStringLiteral("r:t%1").arg(i);
        row("33 texts: last ones share entry 31", texts.join(' ') + " d u", {"t32", "t30"}, 31, 30);
        row("full: entry 31 is searched too",
            texts.mid(0, 32).join(' ') + " r:T31 d r:t5 d r:new d u u",
            {"t31", "t31", "new", "t30", "t29"}, 31, 29);
    }
    void history() {
        QFETCH(QString, script);
        SendHistory h;
        QStringList shown;
        for (const QString& step : script.split(' ')) {
            if (step.startsWith(QLatin1String("r:")))
                h.record(step.mid(2).toStdU16String());
            else
                shown << QString::fromStdU16String(step == QLatin1String("u") ? h.up() : h.down());
        }
        QTEST(shown, "shown");
        QTEST((QList<int>{h.count(), h.cursor()}), "after");
    }

    void display() {
        const std::uint8_t in[] = {0x00, 0x0A, 0x0D, 0x7F, 0x80, 0xA0, 0xAB, 0xFF};
        QCOMPARE(hexDisplay(in, sizeof in), std::string("00 0A 0D 7F 80 A0 AB FF "));
    }

    // Auto pass {display, base, show data, limit} -> {recvLength, total, clear, base}; manual
    // read {display, chunk, base} -> {dropFront, recvLength, total, base}; {} is Overflow.
    void receive_data() {
        QTest::addColumn<QList<qint64>>("in");
        QTest::addColumn<QList<qint64>>("after");
        const auto row = [](const char* name, QList<qint64> in, QList<qint64> after = {}) {
            QTest::newRow(name) << in << after;
        };
        const qint64 cap = kManualDisplayCap, max = INT_MAX;
        row("auto: at limit kept, base kept", {1024, 300, 1, 1024}, {1024, 1324, 0, 300});
        row("auto: one past limit cleared", {1025, 500, 1, 1024}, {1025, 1525, 1, 1525});
        row("auto: at another limit kept", {8192, 0, 1, 8192}, {8192, 8192, 0, 0});
        row("auto: show off clears any data", {5, 10, 0, 1024}, {5, 15, 1, 15});
        row("auto: show off, nothing displayed", {0, 10, 0, 1024}, {0, 10, 0, 10});
        row("auto: total reaches int32 max", {5, max - 5, 1, 1024}, {5, max, 0, max - 5});
        row("auto: total one past max", {6, max - 5, 1, 1024});
        row("auto: display past 32 bits", {max + 1, 0, 1, 1024});
        row("second read adds", {5, 3, 100}, {0, 8, 108, 100});
        row("exactly at cap", {cap - 10, 10, 0}, {0, cap, cap, 0});
        row("one past cap drops one", {cap, 1, 100}, {1, cap, cap + 101, 101});
        row("chunk larger than the cap", {0, cap + 50, 0}, {50, cap, cap + 50, 50});
        row("larger chunk onto a full display", {cap, cap + 1, 0},
            {cap + 1, cap, 2 * cap + 1, cap + 1});
        row("total reaches int32 max", {0, 5, max - 5}, {0, 5, max, max - 5});
        row("total past int32 max", {0, 10, max - 5});
        row("total past max at the cap", {cap, 10, max - 5});
        // Inputs found by fuzz_recv_display: they overflow, they do not wrap.
        row("overflow64_sum: lengths past 64 bits", {6926536231198728997, 2676586236095037440, 37});
        row("overflow_drop_base: base past 32 bits", {-270453217546197LL, LLONG_MAX, 16722431});
        row("both lengths at the 64-bit max", {LLONG_MAX, LLONG_MAX, INT_MIN});
    }
    void receive() {
        QFETCH(QList<qint64>, in);
        QList<qint64> got;
        try {
            if (in.size() == 3) {
                const ManualAppend m = manualReceiveAppend(in[0], in[1], std::int32_t(in[2]));
                got = {m.dropFront, m.recvLength, m.total, m.base};
            } else {
                const AutoPass p =
                    autoReceivePass(in[0], std::int32_t(in[1]), in[2], std::int32_t(in[3]));
                got = {p.recvLength, p.total, p.clearDisplay, p.base};
            }
        } catch (const varnok::Overflow&) {
        }
        QTEST(got, "after");
    }
};

QTEST_APPLESS_MAIN(TestCodec)
#include "tst_codec.moc"
