#include <QtTest>

#include <climits>

#include "logic/codec/send_encoding.h"

using namespace varnok;
using namespace varnok::codec;

Q_DECLARE_METATYPE(varnok::codec::EndOfString)

namespace {

std::u16string u16(const QString& s) {
    return s.toStdU16String();
}

QByteArray bytesOf(const std::vector<std::uint8_t>& v) {
    return QByteArray(reinterpret_cast<const char*>(v.data()), qsizetype(v.size()));
}

// "NotHex", "ValueTooBig", "TooManyValues" or "" (none): why a binary list was not sent.
QString deferredKind(const SendEncoding& e) {
    static const char* const names[] = {"", "NotHex", "ValueTooBig", "TooManyValues"};
    return QString::fromLatin1(names[int(e.listError)]);
}

} // namespace

class TestSendEncoding : public QObject {
    Q_OBJECT
  private slots:
    void encode_data() {
        QTest::addColumn<bool>("ascii");
        QTest::addColumn<QString>("text");
        QTest::addColumn<EndOfString>("eos");
        QTest::addColumn<QString>("def");
        QTest::addColumn<QByteArrayList>("writes");
        QTest::addColumn<int>("shown");
        QTest::addColumn<int>("counted");
        QTest::addColumn<QString>("deferred");
        const auto row = [](const char* name, bool ascii, const QString& text, EndOfString eos,
                            const char* def, std::initializer_list<const char*> hex, int shown,
                            int counted, const char* deferred = "") {
            QByteArrayList writes;
            for (const char* w : hex)
                writes << QByteArray::fromHex(w);
            QTest::newRow(name) << ascii << text << eos << QString::fromLatin1(def) << writes
                                << shown << counted << QString::fromLatin1(deferred);
        };
        using E = EndOfString;
        const QString list = QStringLiteral("01 03 00 00 00 01");
        // The worked results of the send, row by row.
        row("ascii none", true, "ABC", E::None, "", {"414243"}, 3, 3);
        row("ascii cr", true, "ABC", E::CR, "", {"4142430D"}, 4, 4);
        row("ascii lf", true, "ABC", E::LF, "", {"4142430A"}, 4, 4);
        row("ascii lfcr", true, "ABC", E::LFCR, "", {"4142430A0D"}, 5, 5);
        row("ascii crlf", true, "ABC", E::CRLF, "", {"4142430D0A"}, 5, 5);
        row("ascii def 1A", true, "ABC", E::Def, "1A", {"414243", "1A"}, 4, 4);
        row("ascii def 0D0A", true, "ABC", E::Def, "0D0A", {"414243", "0D0A"}, 5, 5);
        row("ascii def empty", true, "ABC", E::Def, "", {"414243"}, 3, 3);
        row("ascii empty cr", true, "", E::CR, "", {"0D"}, 1, 1);
        row("binary none", false, list, E::None, "", {"010300000001"}, 6, 17);
        row("binary cr", false, list, E::CR, "", {"010300000001"}, 7, 18);
        row("binary short tokens", false, "1 3 0 0 0 1", E::None, "", {"010300000001"}, 4, 11);
        // Around the table.
        row("ascii def ABC", true, "ABC", E::Def, "ABC", {"414243", "AB0C"}, 5, 5);
        row("binary def counted, not written", false, "01 02", E::Def, "0D0A", {"0102"}, 2, 7);
        row("binary runs of blanks", false, "  1   3  a ", E::None, "", {"01030A"}, 4, 11);
        row("binary overflow", false, "0103", E::None, "", {}, 4, 4, "ValueTooBig");
        row("binary type mismatch", false, "0G", E::None, "", {}, 2, 2, "NotHex");
        row("binary line break inside", false, "01\n02", E::None, "", {}, 5, 5, "NotHex");
        row("binary tab only", false, "\t", E::None, "", {}, 1, 1, "NotHex");
        row("binary non-latin1", false, QString::fromUtf8("01 €"), E::None, "", {}, 4, 4,
            "NotHex");
        row("binary blanks only", false, "   ", E::CR, "", {}, 4, 4);
    }
    void encode() {
        QFETCH(bool, ascii);
        QFETCH(QString, text);
        QFETCH(EndOfString, eos);
        QFETCH(QString, def);
        QFETCH(QByteArrayList, writes);
        QFETCH(int, shown);
        QFETCH(int, counted);
        QFETCH(QString, deferred);
        const SendEncoding e = encodeSend(ascii, u16(text), eos, u16(def));
        QByteArrayList got;
        for (const auto& w : e.writes)
            got << bytesOf(w);
        QCOMPARE(got, writes);
        QCOMPARE(e.shownCount, shown);
        QCOMPARE(e.countedLength, counted);
        QCOMPARE(deferredKind(e), deferred);
        QCOMPARE(QString::fromStdU16String(e.sendData),
                 text + QString::fromStdU16String(std::u16string(endOfStringChars(eos))));
    }

    void defField_data() {
        QTest::addColumn<QString>("def");
        QTest::addColumn<bool>("fails");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("1A") << "1A" << false << QByteArray::fromHex("1A");
        QTest::newRow("0D0A") << "0D0A" << false << QByteArray::fromHex("0D0A");
        QTest::newRow("ABC odd") << "ABC" << false << QByteArray::fromHex("AB0C");
        QTest::newRow("empty") << "" << false << QByteArray();
        QTest::newRow("blank inside") << "1A 0D" << true << QByteArray();
        QTest::newRow("odd last not hex") << "1AG" << true << QByteArray();
        QTest::newRow("fullwidth digit") << QString::fromUtf8("１A") << true << QByteArray();
    }
    void defField() {
        QFETCH(QString, def);
        QFETCH(bool, fails);
        QFETCH(QByteArray, bytes);
        if (fails)
            QVERIFY_THROWS_EXCEPTION(DefFieldFailure, decodeDefField(u16(def)));
        else
            QCOMPARE(bytesOf(decodeDefField(u16(def))), bytes);
    }

    // Thrown (not deferred): nothing counts and nothing is written, in either mode.
    void defFailureFailsBeforeCounting() {
        for (const bool ascii : {true, false}) {
            try {
                encodeSend(ascii, u"01 02", EndOfString::Def, u"1A 0D");
                QFAIL("no failure");
            } catch (const DefFieldFailure& f) {
                QCOMPARE(QString::fromStdString(f.description()),
                         QStringLiteral("Don't use space in \"Def\" field !!"));
            }
        }
    }

    void unencodable_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<uint>("codePoint");
        QTest::addColumn<QString>("description");
        const auto row =
            [](const char* name, const char* text, uint code, const char* shown) {
                QTest::newRow(name)
                    << QString::fromUtf8(text) << code
                    << QStringLiteral("Character \"%1\" (U+%2) cannot be sent: only "
                                      "Latin-1 characters (U+0000 to U+00FF) can.")
                           .arg(QString::fromUtf8(shown),
                                QString::number(code, 16).toUpper().rightJustified(4, u'0'));
            };
        row("euro", "A€B", 0x20AC, "€");
        row("first of many", "éŁ€", 0x0141, "Ł");
        row("surrogate pair", "x😀", 0x1F600, "😀");
    }
    void unencodable() {
        QFETCH(QString, text);
        QFETCH(uint, codePoint);
        QFETCH(QString, description);
        try {
            encodeSend(true, u16(text), EndOfString::CRLF, u"");
            QFAIL("no failure");
        } catch (const UnencodableCharacter& f) {
            QCOMPARE(uint(f.character()), codePoint);
            QCOMPARE(QString::fromUtf8(f.description()), description);
            QCOMPARE(QString::fromUtf8(f.what()), description);
        }
    }

    void latin1CharactersAreOneByteEach() {
        std::u16string text;
        QByteArray all;
        for (char16_t c = 0; c <= 0xFF; ++c) {
            text.push_back(c);
            all.append(char(c));
        }
        const SendEncoding e = encodeSend(true, text, EndOfString::None, u"");
        QCOMPARE(e.writes.size(), std::size_t(1));
        QCOMPARE(bytesOf(e.writes[0]), all);
        QCOMPARE(e.countedLength, 256);
    }

    void addToCounter_data() {
        QTest::addColumn<QString>("counter");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("result");
        QTest::newRow("normal") << "17" << 4 << 21;
        QTest::newRow("blanks around") << "  12 " << 3 << 15;
        QTest::newRow("negative") << "-10" << 3 << -7;
        QTest::newRow("sum at max") << "2147483646" << 1 << INT_MAX;
        QTest::newRow("sum past max restarts") << "2147483647" << 1 << 1;
        QTest::newRow("text past 32 bits restarts") << "99999999999" << 2 << 2;
        QTest::newRow("very long digits restart") << QString(400, QChar('9')) << 2 << 2;
        QTest::newRow("letters") << "abc" << 5 << 5;
        QTest::newRow("empty") << "" << 5 << 5;
        QTest::newRow("decimal point") << "12.5" << 3 << 3;
        QTest::newRow("trailing letter") << "12a" << 4 << 4;
        QTest::newRow("fullwidth digits") << QString::fromUtf8("１２") << 4 << 4;
    }
    void addToCounter() {
        QFETCH(QString, counter);
        QFETCH(int, count);
        QFETCH(int, result);
        QCOMPARE(codec::addToCounter(u16(counter), count), result);
    }
};

QTEST_APPLESS_MAIN(TestSendEncoding)
#include "tst_send_encoding.moc"
